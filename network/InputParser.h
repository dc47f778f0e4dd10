// Reader of the network input file: records of a keyword and blank-separated fields ended by
// ";", comment lines beginning with "!" or "#", "$" records setting the solver.
//
// Every refusal is a std::runtime_error whose text begins "InputParser: " (the "TURLIM" refusal
// excepted); a number that cannot be converted raises the standard conversion's own exception.
// Numbers read the same whatever locale the host has set (NumberText.h).
// Warnings go to standard error, one line each, beginning "varnok: ".
#pragma once

#include <string>
#include <vector>

#include "network/Network.h"
#include "network/SolverParams.h"

namespace varnok {

class InputParser {
public:
    // One record of the file: upper-cased keyword, then the further tokens unchanged.
    struct Record {
        std::string keyword;
        std::vector<std::string> fields;  // never an empty string
    };

    // Tokenizes the file, replaces the network's comment lines with the file's, then translates.
    // Nothing done before a failure is undone.
    void load(const std::string& path, Network& network, SolverParams& params);

    // Splits the file into records (file order) and appends its comment lines to `comments`.
    std::vector<Record> tokenize(const std::string& path, std::vector<std::string>& comments);

    // Keeps every record as a RawRecord, applies the "$" records, copies the base power into the
    // network, then builds the elements: buses first, then the other element records in file
    // order, then the phase-shifter, cut-member and tap-changer records.
    void translate(const std::vector<Record>& records, Network& network, SolverParams& params);

    // One "$" record.
    void translate_param(const Record& record, SolverParams& params);

    // Bus and branch records. `index` is the record's position in the record list.
    void translate_bus(const Record& record, Network& network, int index);
    void translate_line(const Record& record, Network& network, int index);
    void translate_transfo(const Record& record, Network& network, int index);
    void translate_trfo(const Record& record, Network& network, int index);
    void translate_switch(const Record& record, Network& network, int index);
    void translate_nrtp(const Record& record, Network& network, int index);

    // Generator, compensator, slack, initial-voltage, zone and cut records.
    void translate_gener(const Record& record, Network& network, int index);
    void translate_svc(const Record& record, Network& network, int index);
    void translate_slack(const Record& record, Network& network);
    void translate_lfresv(const Record& record, Network& network);
    void translate_zone(const Record& record, Network& network);
    void translate_buspart(const Record& record, Network& network);
    void translate_brapart(const Record& record, Network& network);

    // Which branches carry a tap changer and which a phase shifter, one flag per branch. The
    // control pass keeps one up to date, so that the duplicate test of each "LTC-V" and
    // "PSHIFT-P" record takes constant time however many records came before it.
    struct ControlledBranches {
        std::vector<char> tap_changer;
        std::vector<char> phase_shifter;
    };
    static ControlledBranches controlled_branches(const Network& network);

    // Tap-changer and phase-shifter records; without `controlled` the flags are built afresh.
    void translate_ltc_v(const Record& record, Network& network);
    void translate_ltc_v(const Record& record, Network& network, ControlledBranches& controlled);
    void translate_pshift_p(const Record& record, Network& network, int index);
    void translate_pshift_p(const Record& record, Network& network, int index,
                            ControlledBranches& controlled);

    // Most positions a tap table may have: a tap changer has tens of them, so a longer table is
    // a mistyped record, and building it would only exhaust memory.
    static constexpr int max_tap_positions = 10000;

    // The tap table shared by "TRFO" with a control bus and "LTC-V": ratios from the first and
    // last percentage over `positions` entries, the start position nearest the branch's ratio,
    // and the branch's ratio then set to the table entry there.
    static void build_tap_table(TapRegulator& tap, double first_pct, double last_pct,
                                int positions, Branch& branch);

    // Below this a ratio counts as zero: a ratio field means nominal, and a table entry is
    // refused, since a zero ratio can be neither solved (the equations divide by it) nor written
    // back (its field would read back as nominal).
    static constexpr double zero_ratio = 1e-10;
    // The index of the first entry of `ratios` whose absolute value is below `zero_ratio`, or -1.
    static int first_zero_ratio(const std::vector<double>& ratios);
};

}  // namespace varnok
