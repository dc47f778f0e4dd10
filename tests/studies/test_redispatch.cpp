// Redispatch of an active-power imbalance: the passes, the limits, the tolerance.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "network/Network.h"
#include "network/SolverParams.h"
#include "studies/Redispatch.h"

namespace varnok {
namespace {

Generator unit(const char* name, double p, double p_min, double p_max, double participation,
               int status = 1) {
    Generator gen;
    gen.name = name;
    gen.p = p;
    gen.p_min = p_min;
    gen.p_max = p_max;
    gen.participation = participation;
    gen.has_p_limits = true;
    gen.status = status;
    return gen;
}

TEST(Redispatch, IncreaseCutAtMaximumIsSpreadAgain) {
    // 0.5 and 0.9 pu, both up to 1.0: 0.7 and 1.1 -> 1.0 (0.1 refused), then 0.8.
    Network net;
    net.add_generator(unit("G1", 0.5, 0.0, 1.0, 1.0));
    net.add_generator(unit("G2", 0.9, 0.0, 1.0, 1.0));
    redispatch_generation(net, 0.4, SolverParams{});
    const double first = (0.4 * 1.0) / 2.0 + 0.5;
    const double refused = ((0.4 * 1.0) / 2.0 + 0.9) - 1.0;
    EXPECT_EQ(net.generators[0].p, (refused * 1.0) / 1.0 + first);
    EXPECT_NEAR(net.generators[0].p, 0.8, 1e-15);
    EXPECT_EQ(net.generators[1].p, 1.0);
    EXPECT_NEAR(net.generators[0].p + net.generators[1].p, 0.5 + 0.9 + 0.4, 1e-15);
}

TEST(Redispatch, DecreaseCutAtMinimumNeverRaisesAUnit) {
    // p_min 0.2 and 0: -1.0 gives 0.0 -> 0.2 (-0.2 refused) and 0.4; then the second unit to 0.2.
    Network net;
    net.add_generator(unit("G1", 0.5, 0.2, 1.0, 1.0));
    net.add_generator(unit("G2", 0.9, 0.0, 1.0, 1.0));
    redispatch_generation(net, -1.0, SolverParams{});
    EXPECT_EQ(net.generators[0].p, 0.2);
    const double refused = ((-1.0 * 1.0) / 2.0 + 0.5) - 0.2;
    EXPECT_EQ(net.generators[1].p, (refused * 1.0) / 1.0 + ((-1.0 * 1.0) / 2.0 + 0.9));
    EXPECT_NEAR(net.generators[1].p, 0.2, 1e-15);
}

TEST(Redispatch, UnitsWithoutRoomOrShareKeepTheirOutput) {
    Network net;
    net.add_generator(unit("equal limits", 0.5, 0.5, 0.5, 1.0));
    net.add_generator(unit("out of service", 0.3, 0.0, 1.0, 1.0, 0));
    net.add_generator(unit("no share", 0.3, 0.0, 1.0, 0.0));
    net.add_generator(unit("negative share", 0.3, 0.0, 1.0, -2.0));
    net.add_generator(unit("status 2 moves", 0.3, 0.0, 1.0, 1.0, 2));
    redispatch_generation(net, 0.2, SolverParams{});
    EXPECT_EQ(net.generators[0].p, 0.5);
    EXPECT_EQ(net.generators[1].p, 0.3);
    EXPECT_EQ(net.generators[2].p, 0.3);
    EXPECT_EQ(net.generators[3].p, 0.3);
    EXPECT_EQ(net.generators[4].p, 0.5);
}

TEST(Redispatch, UnitOnALimitTakesPartOnlyAwayFromIt) {
    Network net;
    net.add_generator(unit("at max", 1.0, 0.0, 1.0, 1.0));
    net.add_generator(unit("at min", 0.0, 0.0, 1.0, 1.0));
    redispatch_generation(net, 0.5, SolverParams{});
    EXPECT_EQ(net.generators[0].p, 1.0);
    EXPECT_EQ(net.generators[1].p, 0.5);
    // Now 1.0 and 0.5: both fall by 0.6, the second is cut at 0 and its -0.1 goes to the first.
    redispatch_generation(net, -1.2, SolverParams{});
    EXPECT_NEAR(net.generators[0].p, 0.3, 1e-15);
    EXPECT_EQ(net.generators[1].p, 0.0);
}

TEST(Redispatch, RemainderWithinTheToleranceIsNotSpread) {
    // 0.05 MW refused at base 100: below the default 0.1 MW, so the second unit stays.
    Network net;
    net.add_generator(unit("G1", 0.9, 0.0, 1.0, 1.0));
    net.add_generator(unit("G2", 0.5, 0.0, 1.0, 1.0));
    redispatch_generation(net, 2 * 0.1005, SolverParams{});
    EXPECT_EQ(net.generators[0].p, 1.0);
    EXPECT_EQ(net.generators[1].p, 0.1005 + 0.5);

    // The tolerance is tolac over the network's own base: 0.01 MW now spreads the remainder.
    net.generators[0].p = 0.9;
    net.generators[1].p = 0.5;
    SolverParams fine;
    fine.tolac = 0.01;
    fine.sbase = 1e6;  // option 0 plays no part
    redispatch_generation(net, 2 * 0.1005, fine);
    EXPECT_EQ(net.generators[0].p, 1.0);
    EXPECT_NEAR(net.generators[1].p, 0.5 + 0.201 - 0.1, 1e-15);
}

TEST(Redispatch, CapacityShortOfTheImbalanceLeavesEveryUnitOnItsLimit) {
    Network net;
    net.add_generator(unit("G1", 0.5, 0.0, 1.0, 1.0));
    net.add_generator(unit("G2", 0.5, 0.0, 2.0, 3.0));
    redispatch_generation(net, 10.0, SolverParams{});
    EXPECT_EQ(net.generators[0].p, 1.0);
    EXPECT_EQ(net.generators[1].p, 2.0);
}

TEST(Redispatch, ZeroImbalanceOrNoGeneratorsChangesNothing) {
    Network empty;
    redispatch_generation(empty, 1.0, SolverParams{});
    Network net;
    net.add_generator(unit("G1", 0.5, 0.0, 1.0, 1.0));
    net.add_generator(unit("at max", 1.0, 0.0, 1.0, 1.0));
    redispatch_generation(net, 0.0, SolverParams{});
    EXPECT_EQ(net.generators[0].p, 0.5);
    EXPECT_EQ(net.generators[1].p, 1.0);
}

TEST(Redispatch, EndsUnderAToleranceThatIsNegativeOrNotANumber) {
    for (double tolac : {-1.0, std::numeric_limits<double>::quiet_NaN()}) {
        Network net;
        net.add_generator(unit("G1", 0.5, 0.0, 1.0, 1.0));
        net.add_generator(unit("G2", 0.9, 0.0, 1.0, 1.0));
        SolverParams params;
        params.tolac = tolac;
        redispatch_generation(net, 0.4, params);
        EXPECT_NEAR(net.generators[0].p, 0.8, 1e-15);
        EXPECT_EQ(net.generators[1].p, 1.0);
    }
}

}  // namespace
}  // namespace varnok
