// The admittance-matrix script: its exact text for every kind of entry, and the script read
// back, whose Y times V must give the written injections at every bus of a solved network.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

#include <fmt/format.h>

#include "network/InputParser.h"
#include "powerflow/PowerFlow.h"
#include "powerflow/network_builders.h"
#include "writers/MatlabExporter.h"

namespace varnok {
namespace {

// In text mode, as the library writes its reports: a Windows line end reads as "\n".
std::string read_file(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A file name of the running test's own, since CTest runs the tests side by side.
std::string temp_path(const std::string& name) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string test = std::string(info->test_suite_name()) + "_" + info->name();
    for (char& c : test)
        if (c == '/') c = '_';
    return ::testing::TempDir() + "varnok_matlab_" + test + "_" + name;
}

std::string thrown_text(const Network& network, const std::string& path) {
    try {
        MatlabExporter().write(network, SolverParams{}, path);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "nothing thrown";
}

Bus bus_at(const std::string& name, double v, double angle) {
    Bus bus;
    bus.name = name;
    bus.v = v;
    bus.angle = angle;
    return bus;
}

Branch with_kind(Branch br, int kind) {
    br.kind = kind;
    return br;
}

// One of each entry kind: a line with charging, a line out of service, a switch, a transformer
// with shunts at both ends, a regulated transformer, a phase-shifting transformer, an
// admittance branch whose ends differ and a line under a phase shifter; a generator in and one
// out of service, a compensator in and one out; bus shunts, one at a bus at 0 V; names short,
// long, and holding a quote, one of them cut right after it.
Network every_entry_kind() {
    Network net;
    net.add_bus(bus_at("NORTH", 1.02, 0.0));
    Bus ohare = bus_at("O'HARE-LONGER", 0.98, -0.05);
    ohare.p_load = 0.5;
    ohare.q_load = 0.2;
    ohare.b_shunt = 0.1;
    ohare.q_shunt = 0.05;
    net.add_bus(ohare);
    Bus c = bus_at("C", 1.01, -0.1);
    c.p_load = 0.8;
    c.q_load = 0.1;
    net.add_bus(c);
    Bus dead = bus_at("DEAD", 0.0, 0.0);
    dead.type = ISOLATED;
    dead.b_shunt = 0.01;
    dead.q_shunt = 0.02;
    net.add_bus(dead);
    Bus cut = bus_at("ABCDEFG'X", 1.0, 0.02);
    cut.q_shunt = 0.03;
    net.add_bus(cut);

    add_unit(net, "G1", 0, GEN_PQ, 1.5, 0.0);
    net.generators[0].q = 0.3;
    add_unit(net, "G2", 1, GEN_PQ, 0.7, 0.0);
    net.generators[1].q = 0.1;
    net.generators[1].status = 0;
    for (int bus : {2, 3}) {
        SVC svc;
        svc.name = "S" + std::to_string(bus);
        svc.bus = svc.sense_bus = bus;
        svc.q = bus == 2 ? 0.25 : 0.4;
        svc.status = bus == 2 ? 1 : 0;
        net.buses[static_cast<std::size_t>(bus)].svc = net.add_svc(svc);
    }

    Branch line = impedance("L1", 0, 1, 0.01, 0.1);
    line.b_shunt_from = line.b_shunt_to = 0.02;
    net.add_branch(line);
    Branch open = impedance("L-OUT", 1, 2, 0.01, 0.1);
    open.status = 0;
    net.add_branch(open);
    net.add_branch(with_kind(reactance("SW", 0, 2, 1e-5), BRANCH_SWITCH));
    Branch tr = with_kind(impedance("T1", 0, 1, 0.005, 0.08), BRANCH_TRANSFORMER);
    tr.ratio = 1.05;
    tr.g_shunt_from = 0.001;
    tr.b_shunt_from = 0.01;
    tr.b_shunt_to = 0.02;
    net.add_branch(tr);
    Branch reg = with_kind(impedance("T2", 1, 2, 0.004, 0.1), BRANCH_REGULATED_TRANSFORMER);
    reg.ratio = 0.95;
    net.add_branch(reg);
    Branch pst = with_kind(impedance("PST", 2, 4, 0.002, 0.05), BRANCH_TRANSFORMER);
    pst.shift = -0.2;
    net.add_branch(pst);
    Branch nrtp;
    nrtp.name = "N1";
    nrtp.from = 2;
    nrtp.to = 0;
    nrtp.g_from = 1.0;
    nrtp.b_from = -10.0;
    nrtp.g_to = 0.9;
    nrtp.b_to = -9.5;
    nrtp.g_shunt_from = 0.001;
    nrtp.b_shunt_from = 0.02;
    nrtp.g_shunt_to = 0.002;
    nrtp.b_shunt_to = 0.03;
    nrtp.kind = BRANCH_NRTP;
    net.add_branch(nrtp);
    Branch shifted_line = impedance("LPS", 1, 4, 0.02, 0.2);
    shifted_line.b_shunt_from = shifted_line.b_shunt_to = 0.01;
    shifted_line.ratio = 1.02;
    shifted_line.shift = 0.1;
    net.add_branch(shifted_line);
    return net;
}

TEST(MatlabExporter, WritesEveryEntryKindExactly) {
    const Network net = every_entry_kind();
    SolverParams params;
    params.sbase = 50.0;  // the injections follow the option, not Network::sbase
    const std::string path = temp_path("entries.m");
    MatlabExporter().write(net, params, path);
    EXPECT_EQ(read_file(path),
              read_file(std::string(VARNOK_TEST_DATA_DIR) + "/writers/matlab_entries.m"));
    std::remove(path.c_str());
}

// A name is cut after its last whole UTF-8 character within 8 bytes and filled with blanks to 8
// bytes; a quote is doubled after the cut.
TEST(MatlabExporter, NamesAreCutToWholeCharactersWithinEightBytes) {
    const std::string e_acute = "\xc3\xa9", euro = "\xe2\x82\xac", clef = "\xf0\x9d\x84\x9e";
    struct Name {
        std::string bus;      // the bus name
        std::string literal;  // between the quotes of its name line
    };
    const std::vector<Name> names = {
        {"N1", "N1      "},
        {"", "        "},
        {"ABCDEFGH", "ABCDEFGH"},
        {"ABCDEFGHI", "ABCDEFGH"},
        {e_acute, e_acute + "      "},
        {"ABCDEF" + e_acute, "ABCDEF" + e_acute},  // 2 bytes ending at byte 8
        {"ABCDEFG" + e_acute, "ABCDEFG "},         // bytes 8 and 9
        {e_acute + e_acute + e_acute + e_acute + e_acute, e_acute + e_acute + e_acute + e_acute},
        {"ABCDE" + euro + "!", "ABCDE" + euro},    // 3 bytes ending at byte 8
        {"ABCDEF" + euro, "ABCDEF  "},             // bytes 7 to 9
        {"ABCDEFG" + euro, "ABCDEFG "},            // bytes 8 to 10
        {"ABCD" + clef + "X", "ABCD" + clef},      // 4 bytes ending at byte 8
        {"ABCDE" + clef, "ABCDE   "},              // bytes 6 to 9
        {"ABCDEFG" + clef, "ABCDEFG "},            // bytes 8 to 11
        {"AB'CDEF" + euro, "AB''CDEF "},           // cut first, the quote doubled after
        {std::string(9, '\''), std::string(16, '\'')},
        {euro + "'" + euro + "'", euro + "''" + euro + "''"},
        {"ABCDEFG\x80\x80", "ABCDEFG\x80"},       // a stray continuation byte stands alone
        {"ABCDEF\xc3" "XY", "ABCDEF\xc3" "X"},     // so does a lead byte without its follower
    };
    Network net;
    for (const Name& name : names) net.add_bus(bus_at(name.bus, 1.0, 0.0));
    const std::string path = temp_path("names.m");
    MatlabExporter().write(net, SolverParams{}, path);
    const std::string script = read_file(path);
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string line =
            fmt::format("opt({:5d}).name= '{}'  ;\n", i + 1, names[i].literal);
        EXPECT_NE(script.find(line), std::string::npos) << line;
    }
    std::remove(path.c_str());
}

TEST(MatlabExporter, NetworkWithoutBuses) {
    const std::string path = temp_path("empty.m");
    MatlabExporter().write(Network{}, SolverParams{}, path);
    EXPECT_EQ(read_file(path),
              "\nY=zeros(    0) ;\n\n% Contributions of branches to Y\n\n"
              "% Contributions of shunts to Y\n");
    std::remove(path.c_str());
}

TEST(MatlabExporter, FileFailures) {
    EXPECT_EQ(thrown_text(Network{}, "/nonexistent-dir/y.m"),
              "MatlabExporter: cannot open file: /nonexistent-dir/y.m");
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full on this system";
    EXPECT_EQ(thrown_text(every_entry_kind(), "/dev/full"),
              "MatlabExporter: cannot write file: /dev/full");
}

// The script read back: bus voltages and injections, Y accumulated term by term, and for each
// row the sum of |term| |V| over its terms, the scale of its rounding error.
struct Script {
    std::vector<std::complex<double>> v, injection;
    std::vector<std::complex<double>> y;  // row-major, n x n
    std::vector<double> row_scale;
    int n = 0;
};

Script read_script(const std::string& path) {
    Script s;
    std::vector<double> magv, phav, injp, injq;
    struct Term {
        int row, col;
        std::complex<double> y;
    };
    std::vector<Term> terms;
    std::ifstream in(path);
    std::string line;
    auto put = [](std::vector<double>& values, int k, double x) {
        if (static_cast<int>(values.size()) < k) values.resize(static_cast<std::size_t>(k));
        values[static_cast<std::size_t>(k - 1)] = x;
    };
    while (std::getline(in, line)) {
        int k = 0, r = 0, c = 0, r2 = 0, c2 = 0;
        double a = 0.0, b = 0.0;
        char field[8] = {};
        if (std::sscanf(line.c_str(), "opt(%d).%4s", &k, field) == 2) {
            const std::size_t eq = line.find('=');
            if (std::string(field) == "name") continue;
            const double x = std::stod(line.substr(eq + 1));
            const std::string f(field, 4);
            put(f == "magv" ? magv : f == "phav" ? phav : f == "injp" ? injp : injq, k, x);
        } else if (std::sscanf(line.c_str(), "Y=zeros(%d)", &k) == 1) {
            s.n = k;
        } else if (std::sscanf(line.c_str(), "Y(%d,%d)=Y(%d,%d)+%lf + %lf *j", &r, &c, &r2, &c2,
                               &a, &b) == 6) {
            terms.push_back({r, c, {a, b}});
        } else if (std::sscanf(line.c_str(), "Y(%d,%d)=Y(%d,%d)+ j*%lf", &r, &c, &r2, &c2, &b) ==
                   5) {
            terms.push_back({r, c, {0.0, b}});
        }
    }
    const auto n = static_cast<std::size_t>(s.n);
    for (std::size_t i = 0; i < n; ++i) {
        s.v.push_back(std::polar(magv.at(i), phav.at(i)));
        s.injection.emplace_back(injp.at(i), injq.at(i));
    }
    s.y.assign(n * n, 0.0);
    s.row_scale.assign(n, 0.0);
    for (const Term& t : terms) {
        const auto row = static_cast<std::size_t>(t.row - 1);
        const auto col = static_cast<std::size_t>(t.col - 1);
        s.y[row * n + col] += t.y;
        s.row_scale[row] += std::abs(t.y) * std::abs(s.v[col]);
    }
    return s;
}

class MatlabRoundTrip : public ::testing::TestWithParam<std::string> {};

TEST_P(MatlabRoundTrip, YTimesVGivesTheInjections) {
    Network net;
    SolverParams params;
    InputParser().load(GetParam(), net, params);
    net.prune_islands();
    PowerFlowSolver solver;
    ASSERT_TRUE(solver.solve(net, params).converged);
    solver.compute_injections(net, params);

    const std::string path = temp_path("round_trip.m");
    MatlabExporter().write(net, params, path);
    const Script s = read_script(path);
    std::remove(path.c_str());
    ASSERT_EQ(s.n, static_cast<int>(net.buses.size()));

    const auto n = static_cast<std::size_t>(s.n);
    const double solve_tolerance = std::max(params.tolac, params.tolreac);  // MW, Mvar
    for (std::size_t k = 0; k < n; ++k) {
        std::complex<double> current = 0.0;
        for (std::size_t j = 0; j < n; ++j) current += s.y[k * n + j] * s.v[j];
        const std::complex<double> injected = params.sbase * s.v[k] * std::conj(current);
        // 8 significant digits: a relative error of 5e-9 in every number written, with margin
        const double rounding =
            1e-7 * (params.sbase * std::abs(s.v[k]) * s.row_scale[k] + std::abs(s.injection[k]));
        EXPECT_NEAR(injected.real(), s.injection[k].real(), solve_tolerance + rounding)
            << "P at bus " << net.buses[k].name;
        EXPECT_NEAR(injected.imag(), s.injection[k].imag(), solve_tolerance + rounding)
            << "Q at bus " << net.buses[k].name;
    }
}

INSTANTIATE_TEST_SUITE_P(Networks, MatlabRoundTrip,
                         ::testing::Values(std::string(VARNOK_CASES_DIR) + "/case30.txt",
                                           std::string(VARNOK_CASES_DIR) + "/case118.txt",
                                           std::string(VARNOK_TEST_DATA_DIR) +
                                               "/writers/regulated.txt"));

// The regulated network really exercises the terms the round trip is for.
TEST(MatlabRoundTrip, RegulatedNetworkHasEveryMendedTerm) {
    Network net;
    SolverParams params;
    InputParser().load(std::string(VARNOK_TEST_DATA_DIR) + "/writers/regulated.txt", net, params);
    PowerFlowSolver solver;
    ASSERT_TRUE(solver.solve(net, params).converged);
    auto branch = [&](const char* name) -> const Branch& {
        return net.branches.at(static_cast<std::size_t>(net.find_branch(name)));
    };
    EXPECT_EQ(branch("D-F").kind, BRANCH_LINE);  // a line under a phase shifter
    EXPECT_NE(branch("D-F").shift, 0.0);
    EXPECT_NE(branch("C-E").ratio, 1.0);  // a line under a tap changer
    EXPECT_NE(branch("T-BC").b_shunt_to, 0.0);
    EXPECT_NE(net.generators.at(static_cast<std::size_t>(net.find_gen("GB-OUT"))).p, 0.0);
    EXPECT_EQ(net.svcs.at(static_cast<std::size_t>(net.find_svc("SC"))).status, 1);
}

}  // namespace
}  // namespace varnok
