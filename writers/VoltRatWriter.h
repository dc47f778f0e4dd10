// The voltage-and-ratio file: the solved bus voltages and the ratios of the voltage-regulating
// transformers as input records, the start point of the next study.
#pragma once

#include <string>

#include "network/Network.h"

namespace varnok {

// The file, read through the input reader:
// - one "LFRESV <bus> <|V| pu> <angle rad> ;" line per bus, in bus order, setting its initial
//   voltage;
// - one "TRANSFO" line per in-service regulated transformer, in branch order, with its name, its
//   end buses, R and X and the two shunt susceptances in percent on its rating, the ratio in
//   percent, the phase in degrees, the rating in MVA on Network::sbase and the status 1.
// Names are written in 8 columns (buses) or 20 (branches), filled with blanks; a longer name is
// written whole, and one that holds a blank, tab, comma, slash or ";", or begins with "!" or
// "#", is written between single quotes. A transformer rated 0 is written with both shunt
// percentages 0, but its line cannot be read back: the reader refuses a rated power of 0.
class VoltRatWriter {
public:
    // Writes the file `path`, replacing it. Throws a runtime error
    // "VoltRatWriter: cannot open file: <path>", or "VoltRatWriter: cannot write file: <path>"
    // when a write failed.
    void write(const Network& network, const std::string& path);
};

}  // namespace varnok
