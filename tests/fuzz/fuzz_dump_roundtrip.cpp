// Any bytes that load are dumped; the dump loads again, and dumping that second network gives the
// same file byte for byte.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <streambuf>
#include <string>

#include "network/InputParser.h"
#include "writers/DumpWriter.h"

namespace {

// Swallows the reader's warnings, which would otherwise flood the fuzzer's output.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return c == traits_type::eof() ? 0 : c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

NullBuffer null_buffer;
std::string input_path;
std::string first_dump;
std::string second_dump;

std::string temp_file() {
    char name[] = "/tmp/varnok_fuzz_XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) std::abort();
    close(fd);
    return name;
}

void remove_files() {
    for (const std::string* path : {&input_path, &first_dump, &second_dump})
        if (!path->empty()) std::remove(path->c_str());
}

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool load(const std::string& path, varnok::Network& network) {
    varnok::SolverParams params;
    try {
        varnok::InputParser().load(path, network, params);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

// The dump drops the blanks at the ends of a field (a field of blanks only becomes one blank)
// and writes "0.0000000E+00" as "0.". Names that differ only so become one name when read back,
// which can merge two elements or have the reader refuse the second: such a network may fail
// the round trip.
bool dump_may_merge_names(const varnok::Network& network) {
    for (const varnok::RawRecord& record : network.raw_records)
        for (const std::string& field : record.fields) {
            const bool end_blank = field.front() == ' ' || field.back() == ' ';
            if ((end_blank && field != " ") || field == "0.0000000E+00") return true;
        }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    input_path = temp_file();
    first_dump = temp_file();
    second_dump = temp_file();
    std::atexit(remove_files);
    std::cerr.rdbuf(&null_buffer);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = std::fopen(input_path.c_str(), "wb");
    if (!file) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);

    varnok::Network network;
    if (!load(input_path, network)) return 0;
    const bool may_merge = dump_may_merge_names(network);
    varnok::DumpWriter().dump(network, first_dump);

    varnok::Network again;
    if (!load(first_dump, again)) {
        if (may_merge) return 0;
        std::fprintf(stderr, "the dump does not load again\n");
        std::abort();
    }
    varnok::DumpWriter().dump(again, second_dump);
    if (!may_merge && read_text(second_dump) != read_text(first_dump)) {
        std::fprintf(stderr, "the second dump differs from the first\n");
        std::abort();
    }
    return 0;
}
