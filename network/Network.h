// The in-memory network: plain element records held in vectors, the raw input records they were
// read from, the name maps and the saved initial state.
//
// Units throughout: powers, admittances, susceptances and ratings per unit on Network::sbase (MVA),
// voltage magnitudes per unit, angles in radians; Bus::vnom_kv in kV.
// Identity: an element is its index in its vector; elements are only ever appended. Every
// cross-reference is such an index, -1 for none.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <unordered_map>
#include <vector>

namespace varnok {

// Role of a bus in the power flow.
enum BusType : int {
    PQ = 0,        // load bus: active and reactive injection given
    PV = 1,        // voltage-controlled bus
    SLACK = 2,     // the slack bus
    ISOLATED = 3,  // cut off from the slack bus by island pruning
};

// Control mode of a generator (Generator::mode).
enum GeneratorMode : int {
    GEN_PQ = 1,                // fixed active and reactive output
    GEN_VOLTAGE_CONTROL = -2,  // holds Generator::v_set at its bus
    GEN_AT_QMAX = 2,           // held at Generator::q_max (or at a given output)
    GEN_AT_QMIN = 3,           // held at Generator::q_min
};

// Control mode of a static var compensator (SVC::mode).
enum SVCMode : int {
    SVC_FIXED_Q = -1,          // constant reactive injection SVC::q
    SVC_VOLTAGE_CONTROL = -4,  // susceptance gain * (v_set - V(sense bus))
    SVC_AT_BMAX = 4,           // held at susceptance b_max
    SVC_AT_BMIN = 5,           // held at susceptance b_min
};

// Kind of branch (Branch::kind): the record it came from.
enum BranchKind : int {
    BRANCH_LINE = 1,
    BRANCH_SWITCH = 2,
    BRANCH_NRTP = 3,                    // admittances given per end
    BRANCH_TRANSFORMER = -2,
    BRANCH_REGULATED_TRANSFORMER = -3,  // under a TapRegulator
};

struct Bus {
    std::string name;           // key in Network::bus_index
    double vnom_kv = 0.0;       // nominal voltage, kV
    double v = 1.0;             // magnitude, pu: start of the next solve, result after it
    double angle = 0.0;         // angle, rad
    double v_init = 1.0;        // magnitude as read (LFRESV or a generator setpoint), pu
    double angle_init = 0.0;    // angle as read, rad
    double p_load = 0.0;        // active load, pu
    double q_load = 0.0;        // reactive load, pu
    double b_shunt = 0.0;       // shunt susceptance, pu; injects b_shunt * v^2
    double q_shunt = 0.0;       // constant reactive injection, pu
    int type = PQ;              // BusType now
    int type_init = PQ;         // BusType as read
    int zone = -1;              // zone holding the bus
    int gen = -1;               // the one generator at this bus
    int svc = -1;               // the one SVC at this bus
    int record = -1;            // index of the "BUS" record
    int lfresv_record = -1;     // index of the "LFRESV" record
};

struct Branch {
    std::string name;            // key in Network::branch_index
    int from = -1;               // from bus
    int to = -1;                 // to bus
    double g_from = 0.0;         // series conductance in the from bus's equations, pu
    double b_from = 0.0;         // series susceptance in the from bus's equations, pu
    double g_to = 0.0;           // series conductance in the to bus's equations (= g_from but NRTP)
    double b_to = 0.0;           // series susceptance in the to bus's equations (= b_from but NRTP)
    double g_shunt_from = 0.0;   // shunt conductance at the from end, pu
    double b_shunt_from = 0.0;   // shunt susceptance at the from end, pu
    double g_shunt_to = 0.0;     // shunt conductance at the to end, pu
    double b_shunt_to = 0.0;     // shunt susceptance at the to end, pu
    double ratio = 1.0;          // off-nominal ratio, divides the to bus's voltage
    double shift = 0.0;          // phase shift, rad
    double rating = 0.0;         // apparent-power rating, pu
    int status = 1;              // 1 in service, 0 open
    bool is_transformer = false; // read from "TRANSFO" or "TRFO"
    int kind = BRANCH_LINE;      // BranchKind
    int record = -1;             // index of its record
    int status_field = -1;       // position of the status in that record
    int ratio_field = -1;        // position of the ratio (percent) in that record
};

struct Generator {
    std::string name;            // key in Network::gen_index
    int bus = -1;                // bus it injects at
    int reg_bus = -1;            // regulated bus as given (the engine acts at `bus`)
    double p = 0.0;              // active output, pu
    double q = 0.0;              // reactive output, pu
    double v_set = 0.0;          // voltage setpoint, pu; 0 means none
    double q_max = 0.0;          // reactive limits, pu
    double q_min = 0.0;
    double p_max = 0.0;          // active limits, pu
    double p_min = 0.0;
    bool has_p_limits = false;   // active limits and participation were given
    double participation = 0.0;  // redispatch participation factor
    int status = 1;              // as read; only 1 counts as in service
    int mode = GEN_PQ;           // GeneratorMode
    int record = -1;             // index of its "GENER" record
    int status_field = -1;       // field positions in that record
    int p_field = -1;
    int q_field = -1;
    int v_field = -1;
};

struct SVC {
    std::string name;            // key in Network::svc_index
    int bus = -1;                // bus it injects at
    int sense_bus = -1;          // bus whose voltage it controls
    double q = 0.0;              // reactive output, pu
    double q_init = 0.0;         // reactive output as read, pu
    double v_set = 0.0;          // voltage setpoint, pu; 0 means none
    double gain_scale = 0.0;     // factor of the gain as read
    double b_max = 0.0;          // susceptance limits, pu
    double b_min = 0.0;
    double gain = 0.0;           // susceptance per pu voltage error, pu
    int status = 1;              // 1 in service, 0 out
    int mode = SVC_FIXED_Q;      // SVCMode
    int record = -1;             // index of its "SVC" record
    int status_field = -1;       // position of the status in that record
};

// On-load tap changer holding the voltage of one end bus of its branch.
struct TapRegulator {
    int branch = -1;                // the regulated branch
    int bus = -1;                   // controlled bus, an end of that branch
    double vdes = 0.0;              // voltage setpoint, pu
    double deadband = 0.0;          // half-width of the band around vdes, pu
    int pos = 0;                    // current position, index into `ratios`
    int pos_init = 0;               // position as read
    int pos_min = 0;                // always 0
    int pos_max = 0;                // ratios.size() - 1
    bool ratio_increasing = true;   // ratios[0] < ratios[1]
    std::vector<double> ratios;     // ratio at each position
};

// Phase-shifting transformer holding the active flow of a monitored branch.
struct PhaseShifter {
    int branch = -1;                // the phase-shifting branch
    int monitored_branch = -1;      // branch whose active flow is held
    double pdes = 0.0;              // active-flow setpoint, pu
    double deadband = 0.0;          // active-power band, pu
    double r = 0.0;                 // series resistance as read, pu
    int sign = 1;                   // control direction, +1 or -1
    bool angle_increasing = true;   // the angle grows with the position
    int pos = 0;                    // current tap number, one of `positions`
    int pos_init = 0;               // tap number as read
    std::vector<int> positions;     // tap number of each table entry
    std::vector<double> x;          // series reactance of each entry, pu
    std::vector<double> ratios;     // ratio of each entry
    std::vector<double> shifts;     // phase angle of each entry, rad
    int record = -1;                // index of the "PSHIFT-P" record
    int sign_field = 5;             // position of the sign in that record
};

// Reactance (pu), ratio and phase angle (rad) of a phase shifter at one tap number.
struct PhaseShifterSetting {
    double x = 0.0;
    double ratio = 1.0;
    double shift = 0.0;
};

// The phase shifter's tables at tap number `position`: the first entry of that number, else the
// linear interpolation between the first pair of neighbouring entries that strictly encloses it.
// False when neither applies (an empty table, a position outside it).
bool phase_shifter_setting(const PhaseShifter& pst, int position, PhaseShifterSetting& setting);

// Puts a setting into the phase shifter's branch: ratio, shift and the series admittance
// 1 / (r + jx) in both pairs, the latter left as it is when r^2 + x^2 is not above 1e-30.
void apply_phase_shifter_setting(Branch& branch, const PhaseShifter& pst,
                                 const PhaseShifterSetting& setting);

struct ZoneBusMember {
    int bus = -1;
    double p_factor = 0.0;  // active participation
    double q_factor = 0.0;  // reactive participation
};

struct Zone {
    std::string name;                    // key in Network::zone_index
    std::vector<ZoneBusMember> members;  // in the order added
};

// A branch of a cut: its flow is taken at `bus` (an end of the branch) with `sign` (+1 or -1).
struct CutBranchMember {
    int branch = -1;
    int bus = -1;
    int sign = 1;
};

struct Cut {
    std::string name;                      // key in Network::cut_index
    std::vector<CutBranchMember> members;  // in the order added
};

// One record of the input file: upper-cased keyword and its text fields, in file order.
struct RawRecord {
    std::string keyword;
    std::vector<std::string> fields;
};

using NameIndex = std::unordered_map<std::string, int>;

class Network {
public:
    // The restorable state saved after loading; entry i belongs to element i of its kind.
    struct NetworkSnapshot {
        std::vector<double> bus_v;
        std::vector<double> bus_angle;
        std::vector<double> bus_p_load;
        std::vector<double> bus_q_load;
        std::vector<double> bus_b_shunt;
        std::vector<double> bus_q_shunt;
        std::vector<int> bus_type;
        std::vector<int> branch_status;
        std::vector<int> gen_status;
        std::vector<int> gen_mode;
        std::vector<double> gen_p;
        std::vector<double> gen_q;
        std::vector<double> gen_v_set;
        std::vector<int> svc_status;
        std::vector<int> svc_mode;
        std::vector<int> tap_pos;
        std::vector<int> pst_pos;
    };

    std::vector<Bus> buses;
    std::vector<Branch> branches;
    std::vector<Generator> generators;
    std::vector<SVC> svcs;
    std::vector<TapRegulator> tap_regulators;
    std::vector<PhaseShifter> phase_shifters;
    double sbase = 100.0;                      // MVA base of every per-unit value held here
    int slack_bus = -1;
    std::vector<std::string> comment_lines;    // of the file loaded last
    std::vector<RawRecord> raw_records;        // file order, then appended "LFRESV" records
    std::vector<Zone> zones;
    std::vector<Cut> cuts;
    std::optional<NetworkSnapshot> initial_snapshot;
    NameIndex bus_index;
    NameIndex branch_index;
    NameIndex gen_index;
    NameIndex svc_index;
    NameIndex zone_index;
    NameIndex cut_index;

    // Lookups: exact, case-sensitive; -1 when the name is unknown.
    int find_bus(const std::string& name) const;
    int find_branch(const std::string& name) const;
    int find_gen(const std::string& name) const;
    int find_svc(const std::string& name) const;
    int find_zone(const std::string& name) const;
    int find_cut(const std::string& name) const;

    // Adds append a copy and point the name at it (a repeated name finds the newest element).
    // They validate nothing; they return the new index.
    int add_bus(const Bus& bus);
    int add_branch(const Branch& branch);
    int add_generator(const Generator& gen);
    int add_svc(const SVC& svc);
    int add_zone(const Zone& zone);
    int add_cut(const Cut& cut);

    // State of the whole network.
    void save_initial_snapshot();
    void reset_to_initial();
    // Entry i is 1 when bus i is reached from the slack bus through in-service branches; a bus
    // already ISOLATED is never entered. Empty without buses or without a valid slack bus.
    std::vector<char> buses_reached_from_slack() const;
    // Takes out of operation every part that the slack bus cannot reach through in-service
    // branches, as buses_reached_from_slack judges it: a pruned bus stays out until a reset or
    // a generator connected at it. Returns the pruned bus names in index order; `lost_p`
    // receives the active generation minus load lost with them (pu, positive when generation
    // was lost).
    std::vector<std::string> prune_islands(std::ostream* report = nullptr,
                                           double* lost_p = nullptr);
    void update_record_field(int record, int field, const std::string& value);
    void update_records();
};

}  // namespace varnok
