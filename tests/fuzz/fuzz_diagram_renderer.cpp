// Any byte sequence as a diagram template renders or fails with a standard exception, and any
// text as a placeholder resolves to a value or "unknown": no crash, hang or leak. The network is
// small, with one-letter names that short inputs reach, and holds a dead bus and an open branch.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>

#include "fuzz_files.h"
#include "network/Network.h"
#include "network/SolverParams.h"
#include "writers/DiagramRenderer.h"

namespace {

std::string template_path, output_path;
varnok::Network network;
varnok::SolverParams params;

void add_bus(const char* name, double v, double angle) {
    varnok::Bus bus;
    bus.name = name;
    bus.v = v;
    bus.angle = angle;
    bus.vnom_kv = 225.0;
    bus.b_shunt = 0.1;
    network.add_bus(bus);
}

void add_branch(const char* name, int from, int to, int status, double rating) {
    varnok::Branch br;
    br.name = name;
    br.from = from;
    br.to = to;
    br.b_from = br.b_to = -10.0;
    br.status = status;
    br.rating = rating;
    network.add_branch(br);
}

void build_network() {
    add_bus("A", 1.02, 0.0);
    add_bus("B", 0.98, -0.1);
    add_bus("C", 0.0, 0.0);  // dead
    add_branch("L", 0, 1, 1, 1.0);
    add_branch("M", 1, 2, 1, 0.0);
    add_branch("O", 0, 2, 0, 1.0);
    varnok::TapRegulator tap;
    tap.branch = 0;
    tap.pos = 3;
    network.tap_regulators.push_back(tap);
    varnok::Generator gen;
    gen.name = "G";
    gen.bus = gen.reg_bus = 0;
    gen.p = 1.0;
    network.buses[0].gen = network.add_generator(gen);
    varnok::SVC svc;
    svc.name = "S";
    svc.bus = svc.sense_bus = 1;
    svc.q = 0.2;
    network.buses[1].svc = network.add_svc(svc);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    template_path = fuzz::temp_file();
    output_path = fuzz::temp_file();
    build_network();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const varnok::DiagramRenderer renderer;
    try {
        const std::string value = renderer.resolve_placeholder(network, params, "%" + text);
        if (size < 2 && value != "unknown") std::abort();  // no letter and name: no value
    } catch (const std::exception&) {
    }

    fuzz::write_file(template_path, data, size);
    try {
        renderer.render(network, params, template_path, output_path);
    } catch (const std::exception&) {
        // a write failure is a correct outcome
    }
    return 0;
}
