// "GENER", "SVC", "SLACK", "LFRESV", "ZONE", "BUSPART" and "BRAPART" records.
#include "network/InputParser.h"

namespace varnok {

void InputParser::translate_gener(const Record&, Network&, int) {}
void InputParser::translate_svc(const Record&, Network&, int) {}
void InputParser::translate_slack(const Record&, Network&) {}
void InputParser::translate_lfresv(const Record&, Network&) {}
void InputParser::translate_zone(const Record&, Network&) {}
void InputParser::translate_buspart(const Record&, Network&) {}
void InputParser::translate_brapart(const Record&, Network&) {}

}  // namespace varnok
