// Any byte sequence either loads or fails with a standard exception: no crash, hang or leak.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <streambuf>
#include <string>

#include "network/InputParser.h"

namespace {

// Swallows the reader's warnings, which would otherwise flood the fuzzer's output.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return c == traits_type::eof() ? 0 : c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

NullBuffer null_buffer;
std::string input_path;

void remove_input() {
    if (!input_path.empty()) std::remove(input_path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char name[] = "/tmp/varnok_fuzz_XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) std::abort();
    close(fd);
    input_path = name;
    std::atexit(remove_input);
    std::cerr.rdbuf(&null_buffer);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = std::fopen(input_path.c_str(), "wb");
    if (!file) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);

    varnok::Network network;
    varnok::SolverParams params;
    try {
        varnok::InputParser().load(input_path, network, params);
    } catch (const std::exception&) {
        // a refused input is a correct outcome
    }
    return 0;
}
