#include "network/Network.h"

namespace varnok {

namespace {

int lookup(const NameIndex& index, const std::string& name) {
    auto it = index.find(name);
    return it == index.end() ? -1 : it->second;
}

// Appends a copy of `element` and points its name at the new index.
template <typename Element>
int append_named(std::vector<Element>& elements, NameIndex& index, const Element& element) {
    const int at = static_cast<int>(elements.size());
    elements.push_back(element);
    index[element.name] = at;
    return at;
}

}  // namespace

int Network::find_bus(const std::string& name) const { return lookup(bus_index, name); }
int Network::find_branch(const std::string& name) const { return lookup(branch_index, name); }
int Network::find_gen(const std::string& name) const { return lookup(gen_index, name); }
int Network::find_svc(const std::string& name) const { return lookup(svc_index, name); }
int Network::find_zone(const std::string& name) const { return lookup(zone_index, name); }
int Network::find_cut(const std::string& name) const { return lookup(cut_index, name); }

int Network::add_bus(const Bus& bus) { return append_named(buses, bus_index, bus); }
int Network::add_branch(const Branch& branch) { return append_named(branches, branch_index, branch); }
int Network::add_generator(const Generator& gen) { return append_named(generators, gen_index, gen); }
int Network::add_svc(const SVC& svc) { return append_named(svcs, svc_index, svc); }
int Network::add_zone(const Zone& zone) { return append_named(zones, zone_index, zone); }
int Network::add_cut(const Cut& cut) { return append_named(cuts, cut_index, cut); }

}  // namespace varnok
