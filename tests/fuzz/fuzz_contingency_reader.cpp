// Any byte sequence is read into a contingency list without a crash, hang or leak, and every
// list that comes out can be studied on a small network without one either.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "studies/ContingencyAnalysis.h"
#include "studies/ContingencyFileParser.h"

namespace {

std::string input_path;

void remove_input() {
    if (!input_path.empty()) std::remove(input_path.c_str());
}

// Two buses and a line, a unit at each; the names a fuzzed file can hit by luck.
varnok::Network two_buses() {
    varnok::Network net;
    for (const char* name : {"B1", "B2"}) {
        varnok::Bus bus;
        bus.name = name;
        net.add_bus(bus);
    }
    net.buses[0].type = net.buses[0].type_init = varnok::SLACK;
    net.buses[1].p_load = 0.5;
    net.slack_bus = 0;
    varnok::Branch line;
    line.name = "L";
    line.from = 0;
    line.to = 1;
    line.b_from = line.b_to = -10.0;
    line.rating = 1.0;
    net.add_branch(line);
    for (int b = 0; b < 2; ++b) {
        varnok::Generator gen;
        gen.name = b == 0 ? "G1" : "G2";
        gen.bus = gen.reg_bus = b;
        gen.p = 0.2;
        gen.p_max = 1.0;
        gen.has_p_limits = true;
        gen.participation = 1.0;
        net.buses[b].gen = net.add_generator(gen);
    }
    return net;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char name[] = "/tmp/varnok_fuzz_ctg_XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) std::abort();
    close(fd);
    input_path = name;
    std::atexit(remove_input);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = std::fopen(input_path.c_str(), "wb");
    if (!file) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);

    std::ostringstream log;
    const std::vector<varnok::Contingency> list =
        varnok::ContingencyFileParser().parse(input_path, &log);
    // The reader reports problems of content; it never throws for them.
    varnok::Network net = two_buses();
    varnok::ContingencyAnalysis().run(net, varnok::SolverParams{}, list, 0.9, 1.1, 100.0, 0.1,
                                      &log);
    return 0;
}
