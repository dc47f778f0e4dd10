// Any bytes that load are dumped; the dump loads again, and dumping that second network gives the
// same file byte for byte.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz_files.h"
#include "network/InputParser.h"
#include "writers/DumpWriter.h"

namespace {

std::string input_path;
std::string first_dump;
std::string second_dump;

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

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    input_path = fuzz::temp_file();
    first_dump = fuzz::temp_file();
    second_dump = fuzz::temp_file();
    fuzz::silence_warnings();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::write_file(input_path, data, size);
    varnok::Network network;
    if (!load(input_path, network)) return 0;
    const bool may_merge = dump_may_merge_names(network);
    varnok::DumpWriter().dump(network, first_dump);

    varnok::Network again;
    if (!load(first_dump, again)) {
        if (may_merge) return 0;
        fail("the dump does not load again");
    }
    varnok::DumpWriter().dump(again, second_dump);
    if (!may_merge && read_text(second_dump) != read_text(first_dump))
        fail("the second dump differs from the first");
    return 0;
}
