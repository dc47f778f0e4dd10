#include "writers/VoltRatWriter.h"

#include <fstream>
#include <iterator>
#include <string_view>

#include <fmt/format.h>

#include "writers/InputToken.h"
#include "writers/ReportFile.h"

namespace varnok {

namespace {

// Degrees per radian, the factor of the "TRANSFO" reader.
constexpr double kDegreesPerRadian = 57.2957795;

// Appends `name` as one input token, filled with blanks to `width` characters. A longer name is
// written whole: cut, it would name another bus, or none, when read back.
void pad(std::string& line, std::string_view name, std::size_t width) {
    const std::size_t start = line.size();
    append_token(line, name);
    const std::size_t written = line.size() - start;
    if (written < width) line.append(width - written, ' ');
}

std::string_view bus_name(const Network& network, int bus) {
    if (bus < 0 || static_cast<std::size_t>(bus) >= network.buses.size()) return {};
    return network.buses[static_cast<std::size_t>(bus)].name;
}

// The values of a "TRANSFO" record that reads back as this branch: the reader's conversions on
// the rated power, inverted.
struct TransfoValues {
    double r_pct = 0.0;       // series resistance, percent on the rating
    double x_pct = 0.0;       // series reactance, percent on the rating
    double b_from_pct = 0.0;  // shunt susceptance at the from end, percent on the rating
    double b_to_pct = 0.0;    // shunt susceptance at the to end, percent on the rating
    double ratio_pct = 0.0;   // ratio, percent (100 nominal)
    double phase_deg = 0.0;   // phase shift, degrees
    double rating_mva = 0.0;  // rated power, MVA
};

TransfoValues transfo_values(const Branch& branch, double sbase) {
    TransfoValues t;
    const double g = branch.g_from;
    const double b = branch.b_from;
    const double d = g * g + b * b;
    if (d > 1e-30) {
        t.r_pct = g / d * 100.0 * branch.rating;
        t.x_pct = -b / d * 100.0 * branch.rating;
    }
    // A rating of 0 gives no finite percentage; the line is refused when read back anyway.
    if (branch.rating != 0.0) {
        t.b_from_pct = branch.b_shunt_from * 100.0 / branch.rating;
        t.b_to_pct = branch.b_shunt_to * 100.0 / branch.rating;
    }
    t.ratio_pct = branch.ratio * 100.0;
    t.phase_deg = branch.shift * kDegreesPerRadian;
    t.rating_mva = branch.rating * sbase;
    return t;
}

void write_line(std::ofstream& out, const std::string& line) {
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
}

}  // namespace

void VoltRatWriter::write(const Network& network, const std::string& path) {
    std::ofstream out = open_report(path, "VoltRatWriter: cannot open file: ");
    std::string line;
    for (const Bus& bus : network.buses) {
        line = "LFRESV ";
        pad(line, bus.name, 8);
        fmt::format_to(std::back_inserter(line), " {:9.7f} {:15.8e} ;\n", bus.v, bus.angle);
        write_line(out, line);
    }
    for (const Branch& branch : network.branches) {
        if (branch.kind != BRANCH_REGULATED_TRANSFORMER || branch.status != 1) continue;
        const TransfoValues t = transfo_values(branch, network.sbase);
        line = "TRANSFO ";
        pad(line, branch.name, 20);
        line += ' ';
        pad(line, bus_name(network, branch.from), 8);
        line += ' ';
        pad(line, bus_name(network, branch.to), 8);
        fmt::format_to(std::back_inserter(line),
                       " {:12.5g} {:12.5g} {:12.5g} {:12.5g} {:12.5g} {:12.5g} {:12.5g} 1 ;\n",
                       t.r_pct, t.x_pct, t.b_from_pct, t.b_to_pct, t.ratio_pct, t.phase_deg,
                       t.rating_mva);
        write_line(out, line);
    }
    close_report(out, "VoltRatWriter", path);
}

}  // namespace varnok
