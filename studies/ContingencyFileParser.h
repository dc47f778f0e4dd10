// Reader of contingency files.
//
// A file is a sequence of contingencies, each a name line and a body of action lines ("BT",
// "BT1", "GT", "ST", "HC", in any case) with their operand lines, closed by an action line that
// contains "end_contingency" (lower case, anywhere in the line) or by the end of the file.
// Operand lines are taken as they come and never end a contingency. Names are not looked up
// here: a name the network lacks is reported when the study applies the step.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "studies/Contingency.h"

namespace varnok {

class ContingencyFileParser {
public:
    // The contingencies of the file at `path`, in file order. Problems of content (an unknown
    // action, an "HC" value that is not a finite number) are written to `log` when it is not
    // null, stand as UNREADABLE steps in their contingency, and reading goes on; a file that
    // cannot be opened gives its message and an empty list. A read that fails part way (an I/O error, not the end of the file) sets
    // `*read_failed` when given; the list then holds the contingencies completed before it, and
    // is no shorter file to be studied. Only memory exhaustion escapes as an exception.
    std::vector<Contingency> parse(const std::string& path, std::ostream* log,
                                   bool* read_failed = nullptr) const;
};

// `text` without leading and trailing blanks, TABs, LFs and CRs (other white space stays).
std::string trim(const std::string& text);

}  // namespace varnok
