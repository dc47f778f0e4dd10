#include "writers/DiagramRenderer.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

#include <fmt/format.h>

#include "powerflow/BranchFlow.h"
#include "writers/ReportFile.h"

namespace varnok {

namespace {

const char* const kUnknown = "unknown";
// Degrees per radian as the diagrams have always shown angles.
constexpr double kDegreesPerRadian = 57.29577951;
// Below this rating (pu) a branch has no meaningful loading.
constexpr double kNoRating = 1e-4;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The text from `from` on, without its leading blanks and tabs.
std::string without_leading_blanks(const std::string& text, std::size_t from = 0) {
    while (from < text.size() && is_blank(text[from])) ++from;
    return text.substr(std::min(from, text.size()));
}

// `show` of element `index` of `elements`, "unknown" when the lookup found none.
template <typename Element, typename Show>
std::string shown(const std::vector<Element>& elements, int index, Show show) {
    if (index < 0 || static_cast<std::size_t>(index) >= elements.size()) return kUnknown;
    return show(elements[static_cast<std::size_t>(index)]);
}

std::string status_mark(int status) { return status > 0 ? "" : "X"; }

double bus_voltage(const Network& network, int bus) {
    if (bus < 0 || static_cast<std::size_t>(bus) >= network.buses.size()) return 0.0;
    return network.buses[static_cast<std::size_t>(bus)].v;
}

// Apparent power over voltage at one end: the end's current, pu. A dead end carries none.
double end_current(double p, double q, double v) {
    return v != 0.0 ? std::sqrt(p * p + q * q) / v : 0.0;
}

// Position of the last `tag` in the line, npos when none: looks at the "<" only.
std::size_t last_tag(const std::string& line, const std::string& tag) {
    std::size_t at = line.size();
    while (at > 0 && (at = line.rfind('<', at - 1)) != std::string::npos)
        if (line.compare(at, tag.size(), tag) == 0) return at;
    return std::string::npos;
}

// The larger end current of the branch as a fraction of its rating.
double loading(const Network& network, int index) {
    const Branch& br = network.branches[static_cast<std::size_t>(index)];
    if (br.rating < kNoRating) return 0.0;
    const BranchFlow flow = compute_branch_flow(network, index);
    const double from = end_current(flow.p_from, flow.q_from, bus_voltage(network, br.from));
    const double to = end_current(flow.p_to, flow.q_to, bus_voltage(network, br.to));
    return std::max(from, to) / br.rating;
}

// "D" and "E": the active or reactive flow (MW, Mvar) leaving the named bus into the named
// branch, argument "<branch>,<bus>"; a bus other than the from bus reads the to end.
std::string end_flow(const Network& network, const std::string& argument, double base,
                     bool reactive) {
    const std::size_t comma = argument.rfind(',');
    if (comma == std::string::npos) return kUnknown;
    const int branch = network.find_branch(without_leading_blanks(argument.substr(0, comma)));
    const int bus = network.find_bus(without_leading_blanks(argument, comma + 1));
    if (branch < 0 || bus < 0) return kUnknown;
    const BranchFlow flow = compute_branch_flow(network, branch);
    const bool at_from = bus == network.branches[static_cast<std::size_t>(branch)].from;
    const double value = reactive ? (at_from ? flow.q_from : flow.q_to)
                                  : (at_from ? flow.p_from : flow.p_to);
    return fmt::format("{:.1f}", base * value);
}

// "J": the position (index into its ratio table) of the branch's first tap changer, found in
// the index of first tap changers.
std::string tap_position(const Network& network, const std::vector<int>& first_tap, int branch) {
    if (static_cast<std::size_t>(branch) >= first_tap.size()) return kUnknown;
    return shown(network.tap_regulators, first_tap[static_cast<std::size_t>(branch)],
                 [](const TapRegulator& tap) { return fmt::format("{}", tap.pos); });
}

}  // namespace

std::vector<int> first_tap_changers(const Network& network) {
    std::vector<int> first(network.branches.size(), -1);
    // from the last tap changer to the first, so that the first of a branch is the one kept
    for (std::size_t i = network.tap_regulators.size(); i-- > 0;) {
        const int branch = network.tap_regulators[i].branch;
        if (branch >= 0 && static_cast<std::size_t>(branch) < first.size())
            first[static_cast<std::size_t>(branch)] = static_cast<int>(i);
    }
    return first;
}

std::string DiagramRenderer::resolve_placeholder(const Network& network,
                                                 const SolverParams& params,
                                                 const std::string& placeholder) const {
    return resolve_placeholder(network, params, placeholder, first_tap_changers(network));
}

std::string DiagramRenderer::resolve_placeholder(const Network& network,
                                                 const SolverParams& params,
                                                 const std::string& placeholder,
                                                 const std::vector<int>& first_tap) const {
    if (placeholder.size() < 3) return kUnknown;
    const char letter = placeholder[1];
    const std::string name = without_leading_blanks(placeholder, 2);
    if (name.empty()) return kUnknown;
    const double base = params.sbase;

    switch (letter) {
    case 'A':
        return shown(network.buses, network.find_bus(name),
                     [](const Bus& bus) { return fmt::format("{:.5f}", bus.v); });
    case 'B':
        return shown(network.buses, network.find_bus(name),
                     [](const Bus& bus) { return fmt::format("{:.1f}", bus.v * bus.vnom_kv); });
    case 'C':
        return shown(network.buses, network.find_bus(name), [](const Bus& bus) {
            return fmt::format("{:.2f}", bus.angle * kDegreesPerRadian);
        });
    case 'D':
        return end_flow(network, name, base, false);
    case 'E':
        return end_flow(network, name, base, true);
    case 'F': {
        const int branch = network.find_branch(name);
        return shown(network.branches, branch, [&](const Branch&) {
            return fmt::format("{:.2f}", loading(network, branch));
        });
    }
    case 'G':
        return shown(network.generators, network.find_gen(name), [&](const Generator& gen) {
            return fmt::format("{:.1f}", gen.status != 0 ? base * gen.p : 0.0);
        });
    case 'H':
        return shown(network.buses, network.find_bus(name), [&](const Bus& bus) {
            return fmt::format("{:.1f}", base * (bus.b_shunt * bus.v * bus.v + bus.q_shunt));
        });
    case 'J': {
        const int branch = network.find_branch(name);
        return shown(network.branches, branch,
                     [&](const Branch&) { return tap_position(network, first_tap, branch); });
    }
    case 'K':
        return shown(network.generators, network.find_gen(name), [&](const Generator& gen) {
            return fmt::format("{:.1f}", gen.status != 0 ? base * gen.q : 0.0);
        });
    case 'L':
        return shown(network.svcs, network.find_svc(name), [&](const SVC& svc) {
            return fmt::format("{:.1f}", svc.status != 0 ? base * svc.q : 0.0);
        });
    case 'R':
        return shown(network.buses, network.find_bus(name),
                     [&](const Bus& bus) { return fmt::format("{:.1f}", base * bus.p_load); });
    case 'S':
        return shown(network.buses, network.find_bus(name),
                     [&](const Bus& bus) { return fmt::format("{:.1f}", base * bus.q_load); });
    case 'T':
        return shown(network.branches, network.find_branch(name),
                     [](const Branch& br) { return status_mark(br.status); });
    case 'U':
        return shown(network.generators, network.find_gen(name),
                     [](const Generator& gen) { return status_mark(gen.status); });
    default:  // "I", "M" to "Q" and every other character
        return kUnknown;
    }
}

void DiagramRenderer::render(const Network& network, const SolverParams& params,
                             const std::string& template_path,
                             const std::string& output_path) const {
    static const std::string TAG_TEXT = "</text>";
    static const std::string TAG_TSPAN = "</tspan>";

    // Only a regular file is read: a FIFO would block the open until some writer came, and a
    // device such as /dev/zero would fill one line without end. A regular file that opens but
    // fails at the first read is refused too, before the output is created.
    const std::string open_failure = "DiagramRenderer: cannot open template: " + template_path;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(template_path, ec))
        throw std::runtime_error(open_failure);
    std::ifstream in(template_path);
    if (in.is_open()) in.peek();
    if (!in.is_open() || in.bad()) throw std::runtime_error(open_failure);
    // Opening the output would empty the template before a line of it was read.
    if (std::filesystem::equivalent(template_path, output_path, ec))
        throw std::runtime_error("DiagramRenderer: output is the template: " + output_path);
    std::ofstream out = open_report(output_path, "DiagramRenderer: cannot open output: ");
    const std::vector<int> first_tap = first_tap_changers(network);

    std::string line, placeholder;  // reused from line to line
    while (std::getline(in, line)) {
        const std::size_t p = line.rfind('%');
        std::size_t e = std::string::npos;
        if (p != std::string::npos) {
            e = last_tag(line, TAG_TSPAN);
            if (e == std::string::npos) e = last_tag(line, TAG_TEXT);
        }
        if (p == std::string::npos || e == std::string::npos || p >= e) {
            out << line << '\n';
            continue;
        }
        out.write(line.data(), static_cast<std::streamsize>(p));
        placeholder.assign(line, p, e - p);
        out << resolve_placeholder(network, params, placeholder, first_tap);
        out.write(line.data() + e, static_cast<std::streamsize>(line.size() - e));
        out << '\n';
    }
    if (in.bad())
        throw std::runtime_error("DiagramRenderer: cannot read template: " + template_path);
    close_report(out, "DiagramRenderer", output_path);
}

}  // namespace varnok
