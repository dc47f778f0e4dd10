// Spreading an active-power imbalance over the generators before a solve.
#pragma once

#include "network/Network.h"
#include "network/SolverParams.h"

namespace varnok {

// Spreads `imbalance` (pu on Network::sbase; positive when generation has to rise) over the
// in-service generators in proportion to their participation factors, within their active
// limits. Works in passes: a unit takes part while its output can still move in the direction of
// what is left (strictly inside its limits, or on the limit it would leave); what the limits
// refuse is spread again over the rest until it is within SolverParams::tolac (MW, converted with
// Network::sbase) or no unit is left. The remainder is left to the slack bus of the next solve.
//
// A participation factor below 0 counts as 0: such a unit never moves. With factors of one sign
// each unfinished pass puts a unit on the limit in the direction of the change, so the passes end.
// Writes Generator::p only; allocates nothing, throws nothing.
void redispatch_generation(Network& network, double imbalance, const SolverParams& params);

// Whether a unit's active output can still move the way `change` asks (its sign): strictly
// inside its active limits, or on the limit that the change would leave. A unit whose two limits
// are equal has no room either way. Status and participation are the caller's tests.
bool has_active_room(const Generator& gen, double change);

// Puts an output beyond an active limit back on that limit and returns what the limit refused
// (pu: positive above p_max, negative below p_min, 0 within the limits).
double clamp_to_active_limits(Generator& gen);

}  // namespace varnok
