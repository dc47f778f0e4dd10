#include "writers/MatlabExporter.h"

#include <cmath>
#include <cstddef>
#include <fstream>
#include <string>

#include <fmt/compile.h>
#include <fmt/format.h>

#include "writers/ReportFile.h"

namespace varnok {

namespace {

// Width of the fixed-width name array the script's users index into.
constexpr std::size_t kNameWidth = 8;

// One admittance term, pu.
struct Admittance {
    double re = 0.0;
    double im = 0.0;
};

// The four terms a branch adds to Y, in the order they are written.
struct BranchTerms {
    Admittance ft, tf, ff, tt;
};

bool is_bus(int index, std::size_t bus_count) {
    return index >= 0 && static_cast<std::size_t>(index) < bus_count;
}

bool is_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Bytes of the UTF-8 character that a byte of the pattern 110xxxxx, 1110xxxx or 11110xxx begins;
// 1 for any other byte (ASCII, a continuation byte, a byte that UTF-8 never uses).
std::size_t announced_length(unsigned char lead) {
    if (lead >= 0xF8) return 1;
    if (lead >= 0xF0) return 4;
    if (lead >= 0xE0) return 3;
    if (lead >= 0xC0) return 2;
    return 1;
}

// Bytes of the UTF-8 character that begins at `at`: its lead byte with as many of the
// continuation bytes it announces as follow it; a byte that begins none stands alone.
std::size_t character_length(const std::string& text, std::size_t at) {
    const std::size_t announced = announced_length(static_cast<unsigned char>(text[at]));
    std::size_t length = 1;
    while (length < announced && at + length < text.size() && is_continuation(text[at + length]))
        ++length;
    return length;
}

// Length of the name's longest start of whole characters within `width` bytes: a character cut
// in two would reach the script as broken bytes, which the reader replaces by longer text.
std::size_t whole_characters_within(const std::string& name, std::size_t width) {
    std::size_t end = 0;
    while (end < name.size()) {
        const std::size_t next = end + character_length(name, end);
        if (next > width) break;
        end = next;
    }
    return end;
}

// The name cut to whole characters within 8 bytes and filled with blanks to 8 bytes, as a quoted
// literal of the script: a quote inside is doubled, so the literal holds exactly the 8 bytes.
void append_name_literal(fmt::memory_buffer& out, const std::string& name) {
    std::string fixed = name.substr(0, whole_characters_within(name, kNameWidth));
    fixed.resize(kNameWidth, ' ');
    for (char c : fixed) {
        if (c == '\'') out.push_back('\'');
        out.push_back(c);
    }
}

// A plain line, switch or admittance branch at ratio 1 and no shift: the pi model, each end's
// series pair in its own row.
BranchTerms line_terms(const Branch& br) {
    BranchTerms y;
    y.ft = {-br.g_from, -br.b_from};
    y.tf = {-br.g_to, -br.b_to};
    y.ff = {br.g_from + br.g_shunt_from, br.b_from + br.b_shunt_from};
    y.tt = {br.g_to + br.g_shunt_to, br.b_to + br.b_shunt_to};
    return y;
}

// The engine's branch model: the series admittance (y_f in the from bus's row, y_t in the to
// bus's) and both end shunts stand on the from side of an ideal transformer at the to end, of
// ratio n and shift phi, through which the to bus's voltage arrives divided by n.
//   (f,t) = -y_f e^(-j phi) / n      (t,f) = -y_t e^(j phi) / n
//   (f,f) = y_f + y_shunt_from       (t,t) = (y_t + y_shunt_to) / n^2
BranchTerms transformer_terms(const Branch& br) {
    const double n = br.ratio;
    const double n2 = n * n;
    const double c = std::cos(br.shift);
    const double s = std::sin(br.shift);
    const double g = br.g_from, b = br.b_from;
    const double gt = br.g_to, bt = br.b_to;
    BranchTerms y;
    y.ft = {(-g * c - b * s) / n, (-b * c + g * s) / n};
    y.tf = {(-gt * c + bt * s) / n, (-bt * c - gt * s) / n};
    y.ff = {g + br.g_shunt_from, b + br.b_shunt_from};
    y.tt = {(gt + br.g_shunt_to) / n2, (bt + br.b_shunt_to) / n2};
    return y;
}

BranchTerms terms_of(const Branch& br) {
    const bool transformer = br.kind < BRANCH_LINE;
    // a tap changer or phase shifter may set the ratio or shift of a line-kind branch too
    const bool off_nominal = br.ratio != 1.0 || br.shift != 0.0;
    return transformer || off_nominal ? transformer_terms(br) : line_terms(br);
}

// Active and reactive output (pu) of the in-service units at a bus.
Admittance unit_output(const Network& network, const Bus& bus) {
    Admittance out;
    if (bus.gen >= 0 && static_cast<std::size_t>(bus.gen) < network.generators.size()) {
        const Generator& gen = network.generators[static_cast<std::size_t>(bus.gen)];
        if (gen.status == 1) {
            out.re += gen.p;
            out.im += gen.q;
        }
    }
    if (bus.svc >= 0 && static_cast<std::size_t>(bus.svc) < network.svcs.size()) {
        const SVC& svc = network.svcs[static_cast<std::size_t>(bus.svc)];
        if (svc.status == 1) out.im += svc.q;
    }
    return out;
}

// The bus shunt as one susceptance at the bus's voltage: the constant reactive injection
// q_shunt counts as q_shunt / V^2. At 0 V it has no admittance and only b_shunt remains.
double shunt_susceptance(const Bus& bus) {
    const double v2 = bus.v * bus.v;
    return v2 != 0.0 ? bus.b_shunt + bus.q_shunt / v2 : bus.b_shunt;
}

// Appends one formatted piece to the line buffer; the formats are parsed at compile time.
template <typename Format, typename... Args>
void put(fmt::memory_buffer& out, const Format& format, const Args&... args) {
    fmt::format_to(std::back_inserter(out), format, args...);
}

void write_bus(fmt::memory_buffer& out, const Network& network, const Bus& bus, int k,
               double sbase) {
    const Admittance unit = unit_output(network, bus);
    put(out, FMT_COMPILE("opt({:5d}).name= '"), k);
    append_name_literal(out, bus.name);
    put(out, FMT_COMPILE("'  ;\n"));
    put(out, FMT_COMPILE("opt({:5d}).magv={:15.8g} ;\n"), k, bus.v);
    put(out, FMT_COMPILE("opt({:5d}).phav={:15.8g} ;\n"), k, bus.angle);
    put(out, FMT_COMPILE("opt({:5d}).injp={:15.8g} ;\n"), k, sbase * (unit.re - bus.p_load));
    put(out, FMT_COMPILE("opt({:5d}).injq={:15.8g} ;\n\n"), k, sbase * (unit.im - bus.q_load));
}

void write_term(fmt::memory_buffer& out, int row, int col, const Admittance& y) {
    put(out, FMT_COMPILE("Y({:5d},{:5d})=Y({:5d},{:5d})+{:15.8g} + {:15.8g} *j ;\n"), row, col,
        row, col, y.re, y.im);
}

void flush(std::ofstream& file, fmt::memory_buffer& out) {
    file.write(out.data(), static_cast<std::streamsize>(out.size()));
    out.clear();
}

}  // namespace

void MatlabExporter::write(const Network& network, const SolverParams& params,
                           const std::string& path) const {
    std::ofstream file = open_report(path, "MatlabExporter: cannot open file: ");
    const std::size_t bus_count = network.buses.size();
    const double sbase = params.sbase;
    fmt::memory_buffer out;

    for (std::size_t i = 0; i < bus_count; ++i) {
        write_bus(out, network, network.buses[i], static_cast<int>(i) + 1, sbase);
        flush(file, out);
    }

    put(out, FMT_COMPILE("\nY=zeros({:5d}) ;\n"), bus_count);
    put(out, FMT_COMPILE("\n% Contributions of branches to Y\n"));
    for (const Branch& br : network.branches) {
        if (br.status == 0) continue;
        // an end of -1 has no row to write into
        if (!is_bus(br.from, bus_count) || !is_bus(br.to, bus_count)) continue;
        const BranchTerms y = terms_of(br);
        const int f = br.from + 1, t = br.to + 1;
        write_term(out, f, t, y.ft);
        write_term(out, t, f, y.tf);
        write_term(out, f, f, y.ff);
        write_term(out, t, t, y.tt);
        flush(file, out);
    }

    put(out, FMT_COMPILE("\n% Contributions of shunts to Y\n"));
    for (std::size_t i = 0; i < bus_count; ++i) {
        const Bus& bus = network.buses[i];
        if (bus.b_shunt == 0.0 && bus.q_shunt == 0.0) continue;
        const int k = static_cast<int>(i) + 1;
        put(out, FMT_COMPILE("Y({:5d},{:5d})=Y({:5d},{:5d})+ j*{:15.8g} ;\n"), k, k, k, k,
            shunt_susceptance(bus));
        flush(file, out);
    }
    flush(file, out);
    close_report(file, "MatlabExporter", path);
}

}  // namespace varnok
