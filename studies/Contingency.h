// A contingency: a named, ordered list of actions (trips and shunt compensation) that a
// contingency study applies to the saved network before it solves.
#pragma once

#include <string>
#include <vector>

namespace varnok {

struct ContingencyStep {
    // What a step does; the numbers are fixed, a host may store them.
    enum Kind : int {
        TRIP_BRANCH = 0,         // the branch goes out of service
        TRIP_GENERATOR = 1,      // the generator goes out of service, its output is lost
        TRIP_SVC = 2,            // the compensator goes out of service
        SHUNT_COMPENSATION = 3,  // `value` is added to the bus's shunt
        // A line of the file that the reader reported and could not make a step of (an unknown
        // action, an "HC" value that is not a finite number): `name` holds its message. It
        // changes nothing and refuses the contingency.
        UNREADABLE = 4,
    };

    int kind = TRIP_BRANCH;  // a Kind value
    std::string name;        // branch, generator, SVC or bus acted on, matched exactly; or the
                             // reader's message of an UNREADABLE step
    double value = 0.0;      // SHUNT_COMPENSATION: Mvar injected at 1 pu, as read; else 0
};

struct Contingency {
    std::string name;                    // trimmed name line, or the N-1 prefix and element name
    std::vector<ContingencyStep> steps;  // in file or generation order; may be empty
};

}  // namespace varnok
