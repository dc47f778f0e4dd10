// Builders of small networks for the power-flow tests: buses, branches and generators with only
// the values a test sets, everything else as the records default it.
#pragma once

#include <string>

#include "network/Network.h"

namespace varnok {

inline int add_plain_bus(Network& net, const std::string& name, int type, double p_load = 0.0,
                         double q_load = 0.0) {
    Bus bus;
    bus.name = name;
    bus.type = bus.type_init = type;
    bus.p_load = p_load;
    bus.q_load = q_load;
    return net.add_bus(bus);
}

// A lossless line of reactance x (pu).
inline Branch reactance(const std::string& name, int from, int to, double x) {
    Branch br;
    br.name = name;
    br.from = from;
    br.to = to;
    br.b_from = br.b_to = -1.0 / x;
    return br;
}

// A branch of series impedance r + jx (pu).
inline Branch impedance(const std::string& name, int from, int to, double r, double x) {
    Branch br;
    br.name = name;
    br.from = from;
    br.to = to;
    const double d = r * r + x * x;
    br.g_from = br.g_to = r / d;
    br.b_from = br.b_to = -x / d;
    return br;
}

// A generator at `bus` regulating its own bus, made the bus's unit.
inline int add_unit(Network& net, const std::string& name, int bus, int mode, double p,
                    double v_set, double q_min = -9.0, double q_max = 9.0) {
    Generator gen;
    gen.name = name;
    gen.bus = gen.reg_bus = bus;
    gen.mode = mode;
    gen.p = p;
    gen.v_set = v_set;
    gen.q_min = q_min;
    gen.q_max = q_max;
    const int g = net.add_generator(gen);
    net.buses[bus].gen = g;
    return g;
}

}  // namespace varnok
