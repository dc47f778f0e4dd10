// The voltage-and-ratio file: the exact lines, and what the reader makes of them.
#include <cmath>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include "network/Network.h"
#include "network/reader_fixture.h"
#include "powerflow/network_builders.h"
#include "writers/VoltRatWriter.h"
#include "writers/report_text.h"

namespace varnok {
namespace {

using report_test::read_text;
using report_test::report_path;

std::string written(const Network& network) {
    const std::string path = report_path("voltrat.txt");
    VoltRatWriter().write(network, path);
    std::string text = read_text(path);
    std::remove(path.c_str());
    return text;
}

void add_bus(Network& network, const std::string& name, double v, double angle) {
    const int bus = add_plain_bus(network, name, PQ);
    network.buses[bus].v = v;
    network.buses[bus].angle = angle;
}

Branch regulated(Branch branch, double rating) {
    branch.rating = rating;
    branch.is_transformer = true;
    branch.kind = BRANCH_REGULATED_TRANSFORMER;
    return branch;
}

TEST(VoltRatWriter, ExactFile) {
    Network network;
    add_bus(network, "ABC", 1.0234567, -0.0523598776);
    add_bus(network, "ABCDEFGH", 0.98, 0.1);
    add_bus(network, "ABCDEFGHIJ", 1.0, 0.0);  // longer than its 8 columns: written whole
    add_bus(network, "A B", 1.05, 0.5236);
    add_bus(network, "#1", 0.0, 0.0);          // as a solve leaves an isolated bus

    Branch t1 = regulated(reactance("T1", 0, 1, 0.1), 1.5);
    t1.b_shunt_from = 0.0002;
    t1.ratio = 1.05;
    network.add_branch(t1);
    Branch t2 =
        regulated(impedance("A-VERY-LONG-TRANSFORMER-1", 2, 3, 1.0 / 101, 10.0 / 101), 2.0);
    t2.b_shunt_to = 0.001;
    t2.ratio = 0.95;
    t2.shift = 0.05;
    network.add_branch(t2);
    Branch open = regulated(reactance("T3", 0, 1, 0.1), 1.0);
    open.status = 0;
    network.add_branch(open);
    Branch plain = regulated(reactance("T4", 0, 1, 0.1), 1.0);
    plain.kind = BRANCH_TRANSFORMER;
    network.add_branch(plain);
    // no series admittance and no rating: R, X and both shunt percentages 0
    Branch t5 = regulated(reactance("T5", 3, 4, 0.1), 0.0);
    t5.b_from = t5.b_to = 0.0;
    t5.b_shunt_from = 0.01;
    t5.shift = -0.1;
    network.add_branch(t5);

    EXPECT_EQ(written(network),
              "LFRESV ABC      1.0234567 -5.23598776e-02 ;\n"
              "LFRESV ABCDEFGH 0.9800000  1.00000000e-01 ;\n"
              "LFRESV ABCDEFGHIJ 1.0000000  0.00000000e+00 ;\n"
              "LFRESV 'A B'    1.0500000  5.23600000e-01 ;\n"
              "LFRESV '#1'     0.0000000  0.00000000e+00 ;\n"
              "TRANSFO T1                   ABC      ABCDEFGH            0           15     "
              "0.013333            0          105            0          150 1 ;\n"
              "TRANSFO A-VERY-LONG-TRANSFORMER-1 ABCDEFGHIJ 'A B'          1.9802       19.802"
              "            0         0.05           95       2.8648          200 1 ;\n"
              "TRANSFO T5                   'A B'    '#1'                0            0       "
              "     0            0          100      -5.7296            0 1 ;\n");
    EXPECT_EQ(written(Network{}), "");
}

// Read back after the network's buses, a line gives each bus its voltage and a transformer with
// the regulated one's admittances, ratio, phase and rating to the printed precision.
TEST(VoltRatWriter, LinesReadBackAsTheBusesAndTheTransformer) {
    const std::string buses = "$SBASE 50;\n"
                              "BUS 'HV 1' 400 0 0 0;\n"
                              "BUS LONGBUSNAME1 225 0 0 0;\n";
    reader_test::Loaded original = reader_test::load_text(
        buses + "TRFO TR1 'HV 1' LONGBUSNAME1 LONGBUSNAME1 0.5 12 0.3 101 300 90 110 21 0.01 "
                "1.0 1;\n");
    Network& net = original.network;
    net.buses[0].v = 1.0123456;
    net.buses[0].angle = -0.0123456789;
    net.buses[1].v = 0.9876543;
    net.buses[1].angle = 0.25;
    net.branches[0].shift = 0.02;  // as a phase shift would stand in the branch

    reader_test::Loaded back = reader_test::load_text(buses + written(net));
    ASSERT_EQ(back.network.buses.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_NEAR(back.network.buses[i].v, net.buses[i].v, 1e-7);
        EXPECT_NEAR(back.network.buses[i].angle, net.buses[i].angle, 1e-9);
    }
    ASSERT_EQ(back.network.branches.size(), 1u);
    const Branch& was = net.branches[0];
    const Branch& is = back.network.branches[0];
    EXPECT_EQ(is.name, "TR1");
    EXPECT_EQ(is.from, was.from);
    EXPECT_EQ(is.to, was.to);
    EXPECT_EQ(is.kind, BRANCH_TRANSFORMER);
    EXPECT_EQ(is.status, 1);
    const auto near = [](double actual, double expected) {
        EXPECT_NEAR(actual, expected, 1e-4 * std::fabs(expected));
    };
    near(is.g_from, was.g_from);
    near(is.b_from, was.b_from);
    near(is.b_shunt_from, was.b_shunt_from);
    near(is.ratio, was.ratio);
    near(is.shift, was.shift);
    near(is.rating, was.rating);
}

TEST(VoltRatWriter, Failures) {
    Network network;
    add_bus(network, "A", 1.0, 0.0);
    const std::string path = "/nonexistent-dir/voltrat.txt";
    EXPECT_EQ(reader_test::refusal([&] { VoltRatWriter().write(network, path); }),
              "VoltRatWriter: cannot open file: " + path);
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full on this system";
    EXPECT_EQ(reader_test::refusal([&] { VoltRatWriter().write(network, "/dev/full"); }),
              "VoltRatWriter: cannot write file: /dev/full");
}

}  // namespace
}  // namespace varnok
