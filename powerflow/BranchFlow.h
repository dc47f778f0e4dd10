// Flows of one branch from the voltages stored in the buses.
#pragma once

#include "network/Network.h"

namespace varnok {

// Per unit; each end value is the power leaving that end's bus into the branch.
struct BranchFlow {
    double p_from = 0.0;      // P_ft
    double q_from = 0.0;      // Q_ft
    double p_to = 0.0;        // P_tf
    double q_to = 0.0;        // Q_tf
    double p_loss = 0.0;      // P_ft + P_tf
    double q_loss = 0.0;      // series reactive loss
    double q_charging = 0.0;  // -(V_f^2 b_shunt_from + W^2 b_shunt_to)
};

// Seven zeros for an index out of range, an open branch or one with an end of -1.
BranchFlow compute_branch_flow(const Network& network, int branch);

}  // namespace varnok
