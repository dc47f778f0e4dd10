// Snapshot and reset, island pruning and the write-back into the raw records.
#include <stdexcept>

#include "network/Network.h"

namespace varnok {

void Network::save_initial_snapshot() {}
void Network::reset_to_initial() {}
std::vector<std::string> Network::prune_islands(std::ostream*, double* lost_p) {
    if (lost_p) *lost_p = 0.0;
    return {};
}
void Network::update_record_field(int, int, const std::string&) {}
void Network::update_records() {}

}  // namespace varnok
