// "BUS", "LINE", "TRANSFO", "TRFO", "SWITCH" and "NRTP" records, and the tap table.
#include "network/InputParser.h"

namespace varnok {

void InputParser::translate_bus(const Record&, Network&, int) {}
void InputParser::translate_line(const Record&, Network&, int) {}
void InputParser::translate_transfo(const Record&, Network&, int) {}
void InputParser::translate_trfo(const Record&, Network&, int) {}
void InputParser::translate_switch(const Record&, Network&, int) {}
void InputParser::translate_nrtp(const Record&, Network&, int) {}
void InputParser::build_tap_table(TapRegulator&, double, double, int, Branch&) {}

}  // namespace varnok
