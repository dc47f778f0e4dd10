// Changes to a loaded network, applied one at a time, and the active-power imbalance that they
// leave for one final prune, redispatch and solve.
#pragma once

#include <string>
#include <vector>

#include "network/Network.h"
#include "network/SolverParams.h"
#include "powerflow/PowerFlow.h"

namespace varnok {

// Every change is written into the network at once; only the imbalance waits for `finalize`.
// Arguments are MW and Mvar, divided by Network::sbase (the network's own base, not the solver
// option), and voltage setpoints in pu. Each change returns a message: empty when it applied in
// full, else a text beginning with a blank and ending with a newline. Names are looked up exactly.
class ModifyEngine {
public:
    struct FinalizeResult {
        std::string message;               // deficit or excess text; empty for an imbalance of 0
        std::vector<int> unreached_buses;  // bus indexes cut off from the slack bus, ascending
        bool converged = false;            // false also when the solve or outputs threw
        int iterations = 0;                // of the solve
        double max_p_mismatch = 0.0;       // largest active bus mismatch of the solve, MW
        double max_q_mismatch = 0.0;       // largest reactive bus mismatch of the solve, Mvar
        int status = NOT_RUN;              // SolveStatus of the solve
    };

    ModifyEngine(Network& network, PowerFlowSolver& solver, const SolverParams& params);
    ModifyEngine(const ModifyEngine&) = delete;
    ModifyEngine& operator=(const ModifyEngine&) = delete;

    // Outages and reconnections. A trip or a connection of a branch or an SVC never changes a
    // bus type; a generator's does (PV on connection, PQ when its PV bus loses it).
    std::string trip_branch(const std::string& name);
    std::string connect_branch(const std::string& name);
    std::string trip_generator(const std::string& name);
    std::string connect_generator(const std::string& name);
    std::string trip_svc(const std::string& name);
    std::string connect_svc(const std::string& name);

    // Setpoints, loads and shunts.
    std::string set_generator_voltage(const std::string& name, double v_set_pu);
    // Holds the unit at `q_mvar` as at its upper reactive limit; a unit in service leaves its
    // bus PQ, as the reactive-limit control does.
    std::string switch_generator_to_pq(const std::string& name, double q_mvar);
    std::string change_shunt(const std::string& bus, double b_mvar);
    std::string demand_increase_bus(const std::string& bus, double p_mw, double q_mvar);
    std::string gen_increase_bus(const std::string& name, double p_mw);

    // Zone changes, spread by the members' participation factors.
    std::string demand_increase_zone(const std::string& zone, double p_mw, double q_mvar);
    // Spreads a generation change over the in-service generators at the zone's buses in passes,
    // within their active limits, until what is left is within 0.1 MW. A member whose active
    // factor is below 0 counts as one with factor 0: its unit never moves, so every pass that
    // does not finish puts a unit on the limit in the direction of the change and the passes end.
    std::string gen_increase_zone(const std::string& zone, double p_mw);

    // Prunes the islands (their generation minus load joins the imbalance), spreads the
    // imbalance over the generators, solves, and recomputes the outputs after a converged solve.
    // Standard exceptions of the solve and of the outputs are caught and leave converged false.
    FinalizeResult finalize();
    // Indexes of the buses that the slack bus does not reach (as the pruning will judge them).
    std::vector<int> check_connectivity() const;
    double delta_p_mw() const;
    std::string show_power_imbalance() const;

    Network& network;
    PowerFlowSolver& solver;
    const SolverParams& params;
    // The imbalance of the changes so far, pu on Network::sbase: positive when generation has to
    // rise (load added, generation lost), negative when it has to fall.
    double delta_p = 0.0;
};

}  // namespace varnok
