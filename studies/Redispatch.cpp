// Redispatch of an active-power imbalance over the generators, in passes.
#include "studies/Redispatch.h"

#include <cmath>

namespace varnok {

namespace {

// The factor a unit takes part with: negative factors count as 0 (the unit never moves).
double effective_participation(const Generator& gen) {
    return gen.participation > 0.0 ? gen.participation : 0.0;
}

bool takes_part(const Generator& gen, double remainder) {
    return gen.status != 0 && effective_participation(gen) != 0.0 &&
           has_active_room(gen, remainder);
}

}  // namespace

bool has_active_room(const Generator& gen, double change) {
    if (gen.p_min == gen.p_max) return false;
    if (gen.p_min < gen.p && gen.p < gen.p_max) return true;
    return (gen.p == gen.p_max && change < 0.0) || (gen.p == gen.p_min && change > 0.0);
}

double clamp_to_active_limits(Generator& gen) {
    double refused = 0.0;
    if (gen.p > gen.p_max) {
        refused = gen.p - gen.p_max;
        gen.p = gen.p_max;
    } else if (gen.p < gen.p_min) {
        refused = gen.p - gen.p_min;
        gen.p = gen.p_min;
    }
    return refused;
}

void redispatch_generation(Network& network, double imbalance, const SolverParams& params) {
    const double tolerance = params.tolac / network.sbase;
    double remainder = imbalance;
    if (network.generators.empty()) return;

    for (;;) {
        double participation_sum = 0.0;
        for (const Generator& gen : network.generators)
            if (takes_part(gen, remainder)) participation_sum += effective_participation(gen);
        if (participation_sum == 0.0) return;

        // What the limits refuse in this pass, with the sign of the request.
        double refused = 0.0;
        for (Generator& gen : network.generators) {
            if (!takes_part(gen, remainder)) continue;
            gen.p = (remainder * effective_participation(gen)) / participation_sum + gen.p;
            refused += clamp_to_active_limits(gen);
        }
        remainder = refused;
        // Nothing refused means nothing is left to place, also under a tolerance that is
        // negative or not a number, which would otherwise repeat passes that move nothing.
        if (refused == 0.0 || std::fabs(refused) <= tolerance) return;
    }
}

}  // namespace varnok
