// What the fuzz targets share: the input bytes reach the reader through a file, as a host's
// would, in temporary files removed at exit; the reader's warnings are swallowed.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

namespace fuzz {

inline std::vector<std::string>& temp_files() {
    static std::vector<std::string> files;
    return files;
}

inline void remove_temp_files() {
    for (const std::string& path : temp_files()) std::remove(path.c_str());
}

// A new empty file in /tmp, removed when the process exits.
inline std::string temp_file() {
    char name[] = "/tmp/varnok_fuzz_XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) std::abort();
    close(fd);
    if (temp_files().empty()) std::atexit(remove_temp_files);
    temp_files().push_back(name);
    return name;
}

inline void write_file(const std::string& path, const uint8_t* data, size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);
}

// Swallows what is written to it.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return c == traits_type::eof() ? 0 : c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// The reader's warnings would otherwise flood the fuzzer's output.
inline void silence_warnings() {
    static NullBuffer null_buffer;
    std::cerr.rdbuf(&null_buffer);
}

}  // namespace fuzz
