#include "writers/DumpWriter.h"

#include <fstream>
#include <string_view>

#include "writers/InputToken.h"
#include "writers/ReportFile.h"

namespace varnok {

namespace {

// A line that holds this many characters less 2 is ended before the next field.
constexpr std::size_t kLineWidth = 110;

std::string_view without_end_blanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

void append_field(std::string& line, std::string_view field) {
    const std::string_view text = without_end_blanks(field);
    if (text.empty())
        line += "' '";
    else if (text == "0.0000000E+00")
        line += "0.";
    else
        append_token(line, text);
}

// Writes the line with its newline and empties it for the next one.
void write_line(std::ofstream& out, std::string& line) {
    line += '\n';
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
    line.clear();
}

void write_record(std::ofstream& out, const RawRecord& record, std::string& line) {
    append_token(line, record.keyword);
    for (const std::string& field : record.fields) {
        if (line.size() + 2 > kLineWidth) write_line(out, line);
        if (!line.empty()) line += ' ';
        append_field(line, field);
    }
    line += " ;";
    write_line(out, line);
}

}  // namespace

void DumpWriter::dump(Network& network, const std::string& path) {
    network.update_records();
    std::ofstream out = open_report(path, "DumpWriter: cannot open file: ");
    for (const std::string& comment : network.comment_lines) out << comment << '\n';
    std::string line;
    for (const RawRecord& record : network.raw_records)
        if (!record.keyword.empty()) write_record(out, record, line);
    close_report(out, "DumpWriter", path);
}

}  // namespace varnok
