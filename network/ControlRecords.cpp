// "LTC-V" and "PSHIFT-P" records.
#include "network/InputParser.h"

namespace varnok {

void InputParser::translate_ltc_v(const Record&, Network&) {}
void InputParser::translate_pshift_p(const Record&, Network&, int) {}

}  // namespace varnok
