// The input-file dump: the network written back out as an input file that holds the solved
// state, to be archived and loaded again.
#pragma once

#include <string>

#include "network/Network.h"

namespace varnok {

// The file: every comment line of the loaded file first (also those that stood between or
// inside records), then every raw record in order, a record with an empty keyword skipped.
// A record is its keyword and its fields, separated by one blank and closed by " ;". Before a
// field the line is ended once it holds 109 characters or more, so a field is never split and a
// line may run longer (a long token, the closing " ;"). A field loses the blanks at its ends,
// so one read from a quoted ' A' comes back as A; nothing left is written "' '" (it reads back
// as one blank); "0.0000000E+00" is written "0."; a field and the keyword are quoted by the
// rule of append_token (writers/InputToken.h), the keyword never trimmed.
class DumpWriter {
public:
    // Writes the solved state into the raw records (Network::update_records, which appends an
    // "LFRESV" record for every bus without one), then the file `path`, replacing it. Throws a
    // runtime error "DumpWriter: cannot open file: <path>", or "DumpWriter: cannot write file:
    // <path>" when a write failed; the write-back stays done either way.
    void dump(Network& network, const std::string& path);
};

}  // namespace varnok
