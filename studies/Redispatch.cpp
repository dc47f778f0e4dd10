// Redispatch of an active-power imbalance over the generators, in passes.
#include "studies/Redispatch.h"

#include <cmath>

namespace varnok {

namespace {

// The factor a unit takes part with: negative factors count as 0 (the unit never moves).
double effective_participation(const Generator& gen) {
    return gen.participation > 0.0 ? gen.participation : 0.0;
}

// A unit takes part in a pass while its output can still move the way `remainder` asks: strictly
// inside its active limits, or on the limit that the change would leave. Equal limits leave no
// room in either direction.
bool takes_part(const Generator& gen, double remainder) {
    if (gen.status == 0 || effective_participation(gen) == 0.0) return false;
    if (gen.p_min == gen.p_max) return false;
    if (gen.p_min < gen.p && gen.p < gen.p_max) return true;
    return (gen.p == gen.p_max && remainder < 0.0) || (gen.p == gen.p_min && remainder > 0.0);
}

}  // namespace

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
            const double p_new =
                (remainder * effective_participation(gen)) / participation_sum + gen.p;
            if (p_new > gen.p_max) {
                gen.p = gen.p_max;
                refused += p_new - gen.p_max;
            } else if (p_new < gen.p_min) {
                gen.p = gen.p_min;
                refused += p_new - gen.p_min;
            } else {
                gen.p = p_new;
            }
        }
        remainder = refused;
        // Nothing refused means nothing is left to place, also under a tolerance that is
        // negative or not a number, which would otherwise repeat passes that move nothing.
        if (refused == 0.0 || std::fabs(refused) <= tolerance) return;
    }
}

}  // namespace varnok
