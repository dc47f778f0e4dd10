// Tokenizer and record driver of the input reader.
#include "network/InputParser.h"
#include "network/NumberText.h"

#include <cmath>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

namespace varnok {

namespace {

using KeywordSet = std::unordered_set<std::string>;

// Keywords that the element pass leaves to the bus pass or the control pass.
const KeywordSet& handled_earlier() {
    static const KeywordSet keywords{"BUS", "LTC-V", "PSHIFT-P", "PSHIFT-I", "BRAPART"};
    return keywords;
}

// The "$" keys that set a solver setting.
const KeywordSet& known() {
    static const KeywordSet keys{"$SBASE",   "$TOLAC",  "$TOLREAC", "$NBITMA", "$MISBLOC",
                                 "$MISADJ",  "$MISQLIM", "$PLIM",    "$DIVDET"};
    return keys;
}

// --- Reading ---------------------------------------------------------------------------------

// The whole file, byte for byte. Only a regular file counts: a directory opens on some
// platforms and would otherwise read as an empty network.
std::string read_file(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        throw std::runtime_error("InputParser: cannot open file: " + path);
    std::ifstream in(path, std::ios::in | std::ios::binary);
    if (!in.is_open()) throw std::runtime_error("InputParser: cannot open file: " + path);

    // Straight into the string at the size the file system reports, then whatever the file
    // may have grown by since.
    std::string content;
    const auto size = std::filesystem::file_size(path, ec);
    if (!ec && size > 0) {
        content.resize(static_cast<std::size_t>(size));
        in.read(content.data(), static_cast<std::streamsize>(content.size()));
        content.resize(static_cast<std::size_t>(in.gcount()));
    }
    char chunk[1 << 16];
    while (in && (in.read(chunk, sizeof chunk) || in.gcount() > 0))
        content.append(chunk, static_cast<std::size_t>(in.gcount()));
    if (in.bad() || !in.eof()) throw std::runtime_error("InputParser: cannot read file: " + path);
    return content;
}

// --- Tokenizing ------------------------------------------------------------------------------

bool is_blank(char c) { return c == ' ' || c == '\t'; }

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Splits the text into records. Carriage returns are invisible wherever they stand, which is
// the same as deleting them before splitting the text into lines.
class Scanner {
public:
    Scanner(const std::string& text, std::vector<std::string>& comments)
        : text_(text), comments_(comments) {}

    std::vector<InputParser::Record> run() {
        std::size_t begin = 0;
        const std::size_t size = text_.size();
        while (begin <= size) {
            std::size_t end = text_.find('\n', begin);
            const bool last = (end == std::string::npos);
            if (last) end = size;
            scan_line(begin, end);
            if (last) break;
            begin = end + 1;
        }
        close_record();
        return std::move(records_);
    }

private:
    // One line [begin, end) of the text, line feed excluded.
    void scan_line(std::size_t begin, std::size_t end) {
        // Trailing blanks and tabs go; carriage returns among them were never there.
        while (end > begin && (is_blank(text_[end - 1]) || text_[end - 1] == '\r')) --end;
        std::size_t first = begin;
        while (first < end && text_[first] == '\r') ++first;
        if (first == end) return;  // empty line: does not end a record
        if (text_[first] == '!' || text_[first] == '#') {
            comments_.push_back(without_cr(first, end));
            return;
        }
        std::size_t at = first;
        while (at < end) {
            const char c = text_[at];
            if (is_blank(c) || c == '\r') {
                ++at;
            } else if (c == ';') {
                close_record();
                ++at;
            } else if (c == '\'') {
                at = quoted_token(at + 1, end);
            } else {
                at = plain_token(at, end);
            }
        }
    }

    // A token after an opening quote: up to the closing quote on this line, or the line's end.
    std::size_t quoted_token(std::size_t at, std::size_t end) {
        std::string token;
        while (at < end && text_[at] != '\'') {
            if (text_[at] != '\r') token.push_back(text_[at]);
            ++at;
        }
        if (at < end) ++at;  // the closing quote
        std::size_t keep = token.size();
        while (keep > 0 && is_blank(token[keep - 1])) --keep;
        if (keep > 0) token.resize(keep);  // blanks only: the token stays whole
        add_token(std::move(token));
        return at;
    }

    // A token of ordinary bytes: up to a blank, a tab, ";" or the line's end.
    std::size_t plain_token(std::size_t at, std::size_t end) {
        std::string token;
        while (at < end) {
            const char c = text_[at];
            if (is_blank(c) || c == ';') break;
            if (c != '\r') token.push_back(c);
            ++at;
        }
        add_token(std::move(token));
        return at;
    }

    void add_token(std::string token) {
        if (token.empty()) return;
        if (!open_) {
            for (char& c : token) c = upper(c);
            current_.keyword = std::move(token);
            current_.fields.clear();
            open_ = true;
        } else {
            current_.fields.push_back(std::move(token));
        }
    }

    void close_record() {
        if (!open_) return;
        records_.push_back(std::move(current_));
        current_ = InputParser::Record{};
        open_ = false;
    }

    std::string without_cr(std::size_t begin, std::size_t end) const {
        std::string line;
        line.reserve(end - begin);
        for (std::size_t i = begin; i < end; ++i)
            if (text_[i] != '\r') line.push_back(text_[i]);
        return line;
    }

    const std::string& text_;
    std::vector<std::string>& comments_;
    std::vector<InputParser::Record> records_;
    InputParser::Record current_;
    bool open_ = false;
};

// --- Driver helpers --------------------------------------------------------------------------

bool is_setting(const std::string& keyword) { return !keyword.empty() && keyword[0] == '$'; }

const char* const kTurlimAdvice =
    " is not supported. Use 12/13-field GENER records to specify PMIN, PMAX, and participation.";

[[noreturn]] void refuse_turlim(const InputParser::Record& record) {
    if (record.fields.empty()) throw std::runtime_error(std::string("TURLIM") + kTurlimAdvice);
    throw std::runtime_error("TURLIM record '" + record.fields[0] + "'" + kTurlimAdvice);
}

// An integer setting from its double: truncated toward zero. A value that no int holds (or
// not a number) has no sensible truncation and is refused.
int truncated_setting(const std::string& key, double value) {
    if (!(value > -2147483649.0 && value < 2147483648.0))
        throw std::runtime_error("InputParser: " + key + " value is out of the range of an integer");
    return static_cast<int>(value);
}

// A real setting as read. A NaN threshold fails every comparison and so would switch its
// control off silently (a NaN "$MISQLIM" leaves generators far beyond their limits in a solve
// that reports convergence); it is refused. Infinity keeps its meaning: no limit.
double real_setting(const std::string& key, double value) {
    if (std::isnan(value))
        throw std::runtime_error("InputParser: " + key + " value is not a number");
    return value;
}

// The first phase shifter (in its vector's order) whose branch also carries a tap changer.
void check_control_conflicts(const Network& network,
                             const InputParser::ControlledBranches& controlled) {
    const std::vector<char>& tapped = controlled.tap_changer;
    for (const PhaseShifter& shifter : network.phase_shifters) {
        if (shifter.branch < 0 || static_cast<std::size_t>(shifter.branch) >= tapped.size())
            continue;
        if (tapped[static_cast<std::size_t>(shifter.branch)])
            throw std::runtime_error("InputParser: transformer '" +
                                     network.branches[static_cast<std::size_t>(shifter.branch)].name +
                                     "' is both voltage and active power controlled");
    }
}

}  // namespace

void InputParser::load(const std::string& path, Network& network, SolverParams& params) {
    std::vector<std::string> comments;
    std::vector<Record> records = tokenize(path, comments);
    network.comment_lines = std::move(comments);
    translate(records, network, params);
}

std::vector<InputParser::Record> InputParser::tokenize(const std::string& path,
                                                       std::vector<std::string>& comments) {
    const std::string text = read_file(path);
    return Scanner(text, comments).run();
}

void InputParser::translate(const std::vector<Record>& records, Network& network,
                            SolverParams& params) {
    // Record indexes are 32-bit throughout the model.
    if (records.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        throw std::runtime_error("InputParser: too many records");
    const int count = static_cast<int>(records.size());

    network.raw_records.reserve(network.raw_records.size() + records.size());
    for (const Record& record : records)
        network.raw_records.push_back(RawRecord{record.keyword, record.fields});

    for (const Record& record : records)
        if (is_setting(record.keyword)) translate_param(record, params);

    // Every per-unit conversion divides by the base power.
    network.sbase = params.sbase;
    if (network.sbase == 0.0) throw std::runtime_error("InputParser: base power is 0");

    for (int i = 0; i < count; ++i)
        if (records[i].keyword == "BUS") translate_bus(records[i], network, i);

    const KeywordSet& earlier = handled_earlier();
    KeywordSet warned;
    for (int i = 0; i < count; ++i) {
        const Record& record = records[i];
        const std::string& kw = record.keyword;
        if (is_setting(kw) || earlier.count(kw)) continue;
        if (kw == "SVC") {
            translate_svc(record, network, i);
        } else if (kw == "LINE") {
            translate_line(record, network, i);
        } else if (kw == "TRFO") {
            translate_trfo(record, network, i);
        } else if (kw == "GENER") {
            translate_gener(record, network, i);
        } else if (kw == "SLACK") {
            translate_slack(record, network);
        } else if (kw == "LFRESV") {
            translate_lfresv(record, network);
            if (!record.fields.empty()) {
                const int bus = network.find_bus(record.fields[0]);
                if (bus >= 0 && static_cast<std::size_t>(bus) < network.buses.size())
                    network.buses[static_cast<std::size_t>(bus)].lfresv_record = i;
            }
        } else if (kw == "TRANSFO") {
            translate_transfo(record, network, i);
        } else if (kw == "BUSPART") {
            translate_buspart(record, network);
        } else if (kw == "ZONE") {
            translate_zone(record, network);
        } else if (kw == "SWITCH") {
            translate_switch(record, network, i);
        } else if (kw == "NRTP") {
            translate_nrtp(record, network, i);
        } else if (kw == "TURLIM") {
            refuse_turlim(record);
        } else if (warned.insert(kw).second) {
            std::cerr << ("varnok: skipping unknown record type '" + kw + "'\n");
        }
    }

    ControlledBranches controlled = controlled_branches(network);
    for (int i = 0; i < count; ++i) {
        const std::string& kw = records[i].keyword;
        if (kw == "PSHIFT-P") {
            translate_pshift_p(records[i], network, i, controlled);
        } else if (kw == "PSHIFT-I") {
            throw std::runtime_error("InputParser: PSHIFT-I (current control) not supported");
        } else if (kw == "BRAPART") {
            translate_brapart(records[i], network);
        } else if (kw == "LTC-V") {
            translate_ltc_v(records[i], network, controlled);
        }
    }

    check_control_conflicts(network, controlled);
}

void InputParser::translate_param(const Record& record, SolverParams& params) {
    const std::string& key = record.keyword;
    if (!known().count(key)) return;
    if (record.fields.size() != 1)
        throw std::runtime_error("InputParser: " + key + " record has not 1 field");
    const double value = parse_real(record.fields[0]);
    if (key == "$SBASE") {
        params.sbase = real_setting(key, value);
    } else if (key == "$TOLAC") {
        params.tolac = real_setting(key, value);
    } else if (key == "$TOLREAC") {
        params.tolreac = real_setting(key, value);
    } else if (key == "$NBITMA") {
        params.nbitma = truncated_setting(key, value);
    } else if (key == "$MISBLOC") {
        params.misbloc = real_setting(key, value);
    } else if (key == "$MISADJ") {
        params.misadj = real_setting(key, value);
    } else if (key == "$MISQLIM") {
        params.misqlim = real_setting(key, value);
    } else if (key == "$PLIM") {
        params.plim = truncated_setting(key, value);
    } else if (key == "$DIVDET") {
        params.divdet = real_setting(key, value);
    }
}

}  // namespace varnok
