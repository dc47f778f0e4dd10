// Any byte sequence either loads or fails with a standard exception: no crash, hang or leak.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "fuzz_files.h"
#include "network/InputParser.h"

namespace {

std::string input_path;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    input_path = fuzz::temp_file();
    fuzz::silence_warnings();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::write_file(input_path, data, size);
    varnok::Network network;
    varnok::SolverParams params;
    try {
        varnok::InputParser().load(input_path, network, params);
    } catch (const std::exception&) {
        // a refused input is a correct outcome
    }
    return 0;
}
