// Any byte sequence is read into a contingency list without a crash, hang or leak, and every
// list that comes out can be studied on a small network without one either.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_files.h"
#include "studies/ContingencyAnalysis.h"
#include "studies/ContingencyFileParser.h"
#include "tests/powerflow/network_builders.h"

namespace {

std::string input_path;

// Two buses and a line, a unit at each; the names a fuzzed file can hit by luck.
varnok::Network two_buses() {
    using namespace varnok;
    Network net;
    add_plain_bus(net, "B1", SLACK);
    add_plain_bus(net, "B2", PQ, 0.5);
    net.slack_bus = 0;
    net.add_branch(reactance("L", 0, 1, 0.1));
    net.branches[0].rating = 1.0;
    for (int b = 0; b < 2; ++b) {
        Generator& gen = net.generators[add_unit(net, b == 0 ? "G1" : "G2", b, GEN_PQ, 0.2, 0.0)];
        gen.p_max = 1.0;
        gen.has_p_limits = true;
        gen.participation = 1.0;
    }
    return net;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    input_path = fuzz::temp_file();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::write_file(input_path, data, size);
    std::ostringstream log;
    const std::vector<varnok::Contingency> list =
        varnok::ContingencyFileParser().parse(input_path, &log);
    // The reader reports problems of content; it never throws for them.
    varnok::Network net = two_buses();
    varnok::ContingencyAnalysis().run(net, varnok::SolverParams{}, list, 0.9, 1.1, 100.0, 0.1,
                                      &log);
    return 0;
}
