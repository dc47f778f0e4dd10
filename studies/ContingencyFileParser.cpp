// Reading a contingency file line by line: name lines, action lines and their operand lines.
#include "studies/ContingencyFileParser.h"

#include <cmath>
#include <cstddef>
#include <exception>
#include <fstream>
#include <ios>
#include <istream>
#include <new>
#include <stdexcept>
#include <utility>

#include "network/NumberText.h"

namespace varnok {

namespace {

constexpr const char* kTrimmed = " \t\n\r";
constexpr const char* kTerminator = "end_contingency";

void write(std::ostream* log, const std::string& a, const std::string& b) {
    if (log) *log << a << b << "\n";
}

// A line that gives no step: its message goes to the log with a leading blank and a newline, and
// as it is into the contingency, where it stands among the steps in file order, so that the study
// never reports a contingency it could not read as written as one the network survives.
void unreadable(std::ostream* log, Contingency& contingency, std::string message) {
    write(log, " ", message);
    contingency.steps.push_back({ContingencyStep::UNREADABLE, std::move(message), 0.0});
}

// Only the ASCII letters a to z are upper-cased: the keywords are ASCII, and a byte above 0x7F
// must not turn into a letter under some locale.
std::string ascii_upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// The next line that is not blank after trimming, trimmed; false at the end of the file.
bool next_non_blank(std::istream& in, std::string& trimmed) {
    std::string line;
    while (std::getline(in, line)) {
        trimmed = trim(line);
        if (!trimmed.empty()) return true;
    }
    return false;
}

// The "HC" compensation: the standard conversion (in the C locale, as the input reader reads),
// which skips leading white space, reads the longest number and ignores what follows (a unit,
// say). False for a line that does not begin with a number, whose number is out of the range
// of a double, or that the conversion reads as an infinity or not-a-number: such a shunt would
// make the solve diverge without a hint, or pass at the slack bus with a shunt of NaN.
bool compensation_value(const std::string& text, double& value) {
    try {
        value = parse_real(text);
        return std::isfinite(value);
    } catch (const std::invalid_argument&) {
    } catch (const std::out_of_range&) {
    }
    return false;
}

// Reads the operand lines of `keyword` and appends its step. False when the file ended before
// the step was complete: the step is dropped and so is the rest of the contingency.
bool read_step(std::istream& in, const std::string& keyword, Contingency& contingency,
               std::ostream* log) {
    std::string name;
    if (!std::getline(in, name)) return false;
    name = trim(name);
    if (keyword == "HC") {
        std::string line;
        if (!std::getline(in, line)) return false;
        line = trim(line);
        double value = 0.0;
        if (!compensation_value(line, value)) {
            unreadable(log, contingency, "invalid HC compensation value: " + line);
            return true;
        }
        contingency.steps.push_back({ContingencyStep::SHUNT_COMPENSATION, name, value});
        return true;
    }
    const int kind = keyword == "GT"   ? ContingencyStep::TRIP_GENERATOR
                     : keyword == "ST" ? ContingencyStep::TRIP_SVC
                                       : ContingencyStep::TRIP_BRANCH;
    contingency.steps.push_back({kind, name, 0.0});
    if (keyword == "BT1") {
        // The line after a "BT1" branch name is discarded unread, a terminator included; at the
        // end of the file the next read ends the contingency.
        std::string discarded;
        std::getline(in, discarded);
    }
    return true;
}

bool is_keyword(const std::string& word) {
    return word == "BT" || word == "BT1" || word == "GT" || word == "ST" || word == "HC";
}

// The body of one contingency, up to its terminator or the end of the file.
void read_body(std::istream& in, Contingency& contingency, std::ostream* log) {
    std::string action;
    while (next_non_blank(in, action)) {
        if (action.find(kTerminator) != std::string::npos) return;
        const std::string keyword = ascii_upper(action);
        if (!is_keyword(keyword)) {
            unreadable(log, contingency, "unknown contingency action: " + action);
            continue;
        }
        if (!read_step(in, keyword, contingency, log)) return;
    }
}

}  // namespace

std::string trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(kTrimmed);
    if (first == std::string::npos) return std::string();
    const std::size_t last = text.find_last_not_of(kTrimmed);
    return text.substr(first, last - first + 1);
}

std::vector<Contingency> ContingencyFileParser::parse(const std::string& path, std::ostream* log,
                                                      bool* read_failed) const {
    if (read_failed) *read_failed = false;
    std::vector<Contingency> list;
    std::ifstream in(path);
    if (!in.is_open()) {
        write(log, " Cannot open contingency file: ", path);
        return list;
    }
    // A failing read would otherwise end the lines as the end of the file does. With the bad bit
    // raising, the stream rethrows what broke the read: the file's error, or memory exhaustion,
    // which goes on to the caller.
    in.exceptions(std::ios::badbit);
    try {
        std::string name;
        while (next_non_blank(in, name)) {
            Contingency contingency;
            contingency.name = name;
            read_body(in, contingency, log);
            list.push_back(std::move(contingency));
        }
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        if (!in.bad()) throw;
        if (read_failed) *read_failed = true;
    }
    return list;
}

}  // namespace varnok
