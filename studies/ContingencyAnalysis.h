// Contingency analysis: the N-1 list, and the study that applies each contingency to a saved
// network state, solves it with a fresh solver, screens the solution and puts the state back.
//
// Thresholds, in this order wherever they are passed: vmin and vmax (bus voltage band, pu),
// max_loading_pct (branch loading limit, percent of the rating), max_drop (largest fall of a bus
// voltage below its value at the start of the run, pu). Every comparison is strict.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "network/Network.h"
#include "network/SolverParams.h"
#include "studies/Contingency.h"

namespace varnok {

class ContingencyAnalysis {
public:
    // The state a study changes, saved once per run; entry i belongs to element i of its kind.
    // (Not the network's own initial snapshot: this one also holds branch ratios, shifts and
    // series admittances, which the controls change, and the reactive outputs.)
    struct NetworkSnapshot {
        std::vector<double> bus_v;          // pu; also the reference of the drop screen
        std::vector<double> bus_angle;      // rad
        std::vector<int> bus_type;          // BusType
        std::vector<int> bus_type_init;     // BusType
        std::vector<double> bus_p_load;     // pu
        std::vector<double> bus_q_load;     // pu
        std::vector<double> bus_b_shunt;    // pu
        std::vector<double> bus_q_shunt;    // pu
        std::vector<int> branch_status;     // 1 in service, 0 open
        std::vector<double> branch_ratio;   // off-nominal ratio
        std::vector<double> branch_shift;   // rad
        std::vector<double> branch_g_from;  // series conductance seen from the from end, pu
        std::vector<double> branch_b_from;  // series susceptance seen from the from end, pu
        std::vector<double> branch_g_to;    // series conductance seen from the to end, pu
        std::vector<double> branch_b_to;    // series susceptance seen from the to end, pu
        std::vector<int> gen_status;        // as read; 1 in service
        std::vector<int> gen_mode;          // GeneratorMode
        std::vector<double> gen_p;          // pu
        std::vector<double> gen_q;          // pu
        std::vector<double> gen_v_set;      // pu, 0 for none
        std::vector<int> svc_status;        // 1 in service, 0 out
        std::vector<int> svc_mode;          // SVCMode
        std::vector<double> svc_q;          // pu
        std::vector<int> tap_pos;           // index into the tap changer's ratio table
        std::vector<int> pst_pos;           // tap number of the phase shifter
    };

    // What one contingency gave. The extremes keep their start values when the solve did not
    // converge or no bus or branch qualified.
    struct Result {
        std::string name;                     // the contingency's name
        bool converged = false;               // the post-contingency solve converged
        double min_voltage = 999.0;           // lowest voltage of a bus not ISOLATED, pu
        double max_voltage = 0.0;             // highest such voltage, pu
        std::string min_voltage_bus;          // bus of min_voltage, empty for none
        std::string max_voltage_bus;          // bus of max_voltage, empty for none
        double max_loading = 0.0;             // highest branch loading, percent of its rating
        std::string max_loading_branch;       // branch of max_loading, empty for none
        bool accepted = true;                 // no violation, and converged
        std::vector<std::string> violations;  // texts in the order found
    };

    // Single outages of the kinds selected, from the network's state now: "BR: " + name for
    // every branch in service, then "GN: " + name for every generator in service but the one
    // at the slack bus, then "SV: " + name for every SVC in service, each group in index order.
    std::vector<Contingency> generate_n1(const Network& network, bool branches, bool generators,
                                         bool svcs) const;

    NetworkSnapshot save(const Network& network) const;
    // Writes every saved quantity back. The snapshot must come from this network, with no
    // element added since.
    void restore(Network& network, const NetworkSnapshot& snapshot) const;
    // Writes back only the voltages, the branch ratios, shifts and series admittances, and the
    // tap and phase-shifter positions: the start of a solve.
    void reset_voltages_and_taps(Network& network, const NetworkSnapshot& snapshot) const;

    // Studies the contingencies of `list` in order on `network` and returns one result each.
    // The network leaves the run in the state it entered it (the quantities of the snapshot),
    // also when an exception (memory exhaustion, a failing `log`) ends the run early. Names that
    // the network lacks and a trip of the slack bus's generator change nothing; their messages
    // go to `log` (may be null) and to the contingency's violations, ahead of the screens' texts
    // (or of "divergence !"), and the contingency is not accepted. So do the reader's messages
    // of UNREADABLE steps, in step order among them, but not to `log`, which the reader wrote.
    std::vector<Result> run(Network& network, const SolverParams& params,
                            const std::vector<Contingency>& list, double vmin, double vmax,
                            double max_loading_pct, double max_drop, std::ostream* log) const;

    // One block per result: header, violations, verdict; nothing for an empty list.
    void print_results(std::ostream& stream, const std::vector<Result>& results) const;

    // Two stages of one contingency as run() takes them, public so that each can be timed.
    // Around them run() restores, prunes, redispatches, resets the voltages and solves.
    struct Thresholds {
        double vmin = 0.0;             // pu
        double vmax = 0.0;             // pu
        double max_loading_pct = 0.0;  // percent of the branch rating
        double max_drop = 0.0;         // pu below the snapshot's voltage
    };
    // Applies the steps in order; returns the active output of the in-service generators that
    // they tripped (pu on Network::sbase). A step that cannot be applied (a name the network
    // lacks, a trip of the slack bus's generator) changes nothing, writes its message to `log`
    // and appends it, without the leading blank and the newline, to the result's violations,
    // which refuses the contingency. An UNREADABLE step appends the reader's message only.
    double apply_steps(Network& network, const Contingency& contingency, std::ostream* log,
                       Result& result) const;
    // Screens a converged solution: extremes and violations of the voltages, the drops against
    // the snapshot's voltages and the branch loadings. Allocates only for violation texts.
    void screen(const Network& network, const NetworkSnapshot& snapshot,
                const Thresholds& thresholds, Result& result) const;
};

}  // namespace varnok
