// What the fuzz targets share: the input bytes reach the reader through a file, as a host's
// would, in temporary files removed at exit; the reader's warnings are swallowed. Portable C++17
// only, so that the targets also build as the replay programs of the regression inputs.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <streambuf>
#include <string>
#include <system_error>
#include <vector>

namespace fuzz {

inline std::vector<std::string>& temp_files() {
    static std::vector<std::string> files;
    return files;
}

inline void remove_temp_files() {
    for (const std::string& path : temp_files()) std::remove(path.c_str());
}

// A new empty file in the temporary folder, removed when the process exits. Its name is drawn
// at random, so that processes running at once never share one.
inline std::string temp_file() {
    namespace fs = std::filesystem;
    static std::mt19937_64 draw(std::random_device{}() ^
                                static_cast<std::uint64_t>(
                                    std::chrono::steady_clock::now().time_since_epoch().count()));
    std::error_code error;
    const fs::path folder = fs::temp_directory_path(error);
    if (error) std::abort();
    for (;;) {
        char name[32];
        std::snprintf(name, sizeof name, "varnok_fuzz_%016llx",
                      static_cast<unsigned long long>(draw()));
        const fs::path path = folder / name;
        const bool taken = fs::exists(path, error);
        if (error) std::abort();
        if (taken) continue;
        if (!std::ofstream(path, std::ios::binary)) std::abort();
        if (temp_files().empty()) std::atexit(remove_temp_files);
        temp_files().push_back(path.string());
        return path.string();
    }
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

// The reader's warnings would otherwise flood the fuzzer's output. The buffer is never destroyed:
// the standard streams are flushed at exit after the function's statics are gone.
inline void silence_warnings() {
    static NullBuffer* const null_buffer = new NullBuffer;
    std::cerr.rdbuf(null_buffer);
}

}  // namespace fuzz
