// The input reader's lexical format, its record driver and the "$" settings records.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "network/InputParser.h"
#include "network/reader_fixture.h"

namespace varnok {
namespace {

using reader_test::load_error;
using reader_test::Loaded;
using reader_test::load_text;
using reader_test::TempFile;
using reader_test::tokenize_text;

// A record written as keyword then fields.
using Tokens = std::vector<std::string>;

struct LexCase {
    const char* what;
    std::string text;
    std::vector<Tokens> records;
    std::vector<std::string> comments;
};

std::vector<Tokens> as_tokens(const std::vector<InputParser::Record>& records) {
    std::vector<Tokens> out;
    for (const auto& r : records) {
        Tokens t{r.keyword};
        t.insert(t.end(), r.fields.begin(), r.fields.end());
        out.push_back(t);
    }
    return out;
}

TEST(InputTokenizer, LexicalCases) {
    const std::vector<LexCase> cases = {
        {"plain record", "BUS A 400 0 0 0;", {{"BUS", "A", "400", "0", "0", "0"}}, {}},
        {"empty file", "", {}, {}},
        {"comment lines only", "! one\n# two\n", {}, {"! one", "# two"}},
        {"comments inside a record spanning three lines", "BUS A\n! c1\n400 0\n# c2\n0 0;",
         {{"BUS", "A", "400", "0", "0", "0"}}, {"! c1", "# c2"}},
        {"CR LF line ends", "BUS A 1;\r\nLINE L\r\nA B;\r\n! c\r\n",
         {{"BUS", "A", "1"}, {"LINE", "L", "A", "B"}}, {"! c"}},
        {"CR inside a quoted token", "X 'A\rB';", {{"X", "AB"}}, {}},
        {"CR inside a plain token", "X a\rb;", {{"X", "ab"}}, {}},
        {"CR before a comment mark", "\r! c\nX;", {{"X"}}, {"! c"}},
        {"quote closes then a token follows", "X 'A'B;", {{"X", "A", "B"}}, {}},
        {"quote inside a plain token", "X A'B;", {{"X", "A'B"}}, {}},
        {"quoted text keeps blanks, tabs, ; ! #", "X 'a b;\t!#c' d;", {{"X", "a b;\t!#c", "d"}}, {}},
        {"unclosed quote takes the rest of the line", "X 'a b ; c\nd;", {{"X", "a b ; c", "d"}}, {}},
        {"unclosed quote ends at trimmed line end", "X 'ab  \t\nc;", {{"X", "ab", "c"}}, {}},
        {"quote then only blanks at line end is empty", "X a '   \nb;", {{"X", "a", "b"}}, {}},
        {"two quotes give no token", "X '' a;", {{"X", "a"}}, {}},
        {"quote as last byte: record continues", "X a '\nb;", {{"X", "a", "b"}}, {}},
        {"quoted single blank is a field", "X ' ' a;", {{"X", " ", "a"}}, {}},
        {"quoted blanks only stay whole", "X ' \t ';", {{"X", " \t "}}, {}},
        {"quoted text loses trailing blanks, keeps leading", "X '  a  ';", {{"X", "  a"}}, {}},
        {"quoted keyword", "'bus' A;", {{"BUS", "A"}}, {}},
        {"keyword case", "bus a;\nBus Ab;\nbUs-x Q;",
         {{"BUS", "a"}, {"BUS", "Ab"}, {"BUS-X", "Q"}}, {}},
        {"only ASCII letters are upper-cased", "\xc3\xa9t\xc3\xa9 x;", {{"\xc3\xa9T\xc3\xa9", "x"}}, {}},
        {"missing final ;", "BUS A 1 2 3 4", {{"BUS", "A", "1", "2", "3", "4"}}, {}},
        {"double ; gives one record", "BUS A 1 2 3 4;;", {{"BUS", "A", "1", "2", "3", "4"}}, {}},
        {"lone ; produce nothing", ";;\n ; ;", {}, {}},
        {"several records on one line", "A 1; B 2;C", {{"A", "1"}, {"B", "2"}, {"C"}}, {}},
        {"tabs separate", "X\ta\t\tb;", {{"X", "a", "b"}}, {}},
        {"blank lines do not end a record", "X a\n\n  \t\nb;", {{"X", "a", "b"}}, {}},
        {"! and # inside a line are ordinary", "X a!b #c;", {{"X", "a!b", "#c"}}, {}},
        {"comment keeps its mark, loses trailing blanks", "!  c  \t\n#\n", {}, {"!  c", "#"}},
        {"blank then ! is not a comment", " !note\nBUS A 1 0 0 0;\nX;",
         {{"!NOTE", "BUS", "A", "1", "0", "0", "0"}, {"X"}}, {}},
        {"keyword only", "X;", {{"X"}}, {}},
        {"no line feed after the last line", "X a\nb", {{"X", "a", "b"}}, {}},
    };
    for (const LexCase& c : cases) {
        std::vector<std::string> comments;
        const auto records = tokenize_text(c.text, comments);
        EXPECT_EQ(as_tokens(records), c.records) << c.what;
        EXPECT_EQ(comments, c.comments) << c.what;
        for (const auto& r : records)
            for (const auto& f : r.fields) EXPECT_FALSE(f.empty()) << c.what;
    }
}

TEST(InputTokenizer, CrLfFileReadsLikeLfFile) {
    const std::string lf = "! head\n$SBASE 50;\nBUS A 400 10 5 1;\nBUS B 400 0 0 0;\n"
                           "LINE L A\nB 1 10 0 100 1;\n";
    std::string crlf;
    for (char c : lf) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    std::vector<std::string> c1, c2;
    EXPECT_EQ(as_tokens(tokenize_text(lf, c1)), as_tokens(tokenize_text(crlf, c2)));
    EXPECT_EQ(c1, c2);
}

TEST(InputTokenizer, AppendsToTheCommentList) {
    std::vector<std::string> comments{"earlier"};
    tokenize_text("! new\n", comments);
    EXPECT_EQ(comments, (std::vector<std::string>{"earlier", "! new"}));
}

TEST(InputTokenizer, LongLineAndManyFields) {
    std::string text = "X";
    for (int i = 0; i < 100000; ++i) text += " f" + std::to_string(i);
    std::vector<std::string> comments;
    const auto records = tokenize_text(text, comments);
    ASSERT_EQ(records.size(), 1u);
    ASSERT_EQ(records[0].fields.size(), 100000u);
    EXPECT_EQ(records[0].fields.back(), "f99999");
}

TEST(InputTokenizer, NulBytesAreOrdinary) {
    std::vector<std::string> comments;
    const auto records = tokenize_text(std::string("X a\0b;", 6), comments);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].fields, (std::vector<std::string>{std::string("a\0b", 3)}));
}

// --- Opening -----------------------------------------------------------------------------------

TEST(InputReader, UnopenablePathsChangeNothing) {
    const std::string dir = std::filesystem::temp_directory_path().string();
    for (const std::string& path : {dir, dir + "/varnok_no_such_file.txt", std::string("")}) {
        Network network;
        network.comment_lines = {"kept"};
        SolverParams params;
        try {
            InputParser().load(path, network, params);
            ADD_FAILURE() << "loaded " << path;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), "InputParser: cannot open file: " + path);
        }
        EXPECT_EQ(network.comment_lines, std::vector<std::string>{"kept"});
        EXPECT_TRUE(network.raw_records.empty());
    }
}

// A regular file that opens but cannot be read must not load as an empty network.
TEST(InputReader, FailedReadIsAnError) {
#ifndef __linux__
    GTEST_SKIP() << "no regular file here that opens but cannot be read, as Linux's /proc/self/mem";
#else
    Network network;
    SolverParams params;
    try {
        InputParser().load("/proc/self/mem", network, params);
        ADD_FAILURE() << "loaded an unreadable file";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "InputParser: cannot read file: /proc/self/mem");
    }
    EXPECT_TRUE(network.raw_records.empty());
#endif
}

// --- Driver ------------------------------------------------------------------------------------

TEST(InputReader, EmptyAndCommentOnlyFilesLoad) {
    SolverParams params;
    params.sbase = 250.0;
    Loaded empty = load_text("", params);
    EXPECT_TRUE(empty.network.raw_records.empty());
    EXPECT_TRUE(empty.network.buses.empty());
    EXPECT_TRUE(empty.network.comment_lines.empty());
    EXPECT_EQ(empty.network.sbase, 250.0);

    Loaded comments = load_text("! a\n# b\n");
    EXPECT_EQ(comments.network.comment_lines, (std::vector<std::string>{"! a", "# b"}));
    EXPECT_TRUE(comments.network.raw_records.empty());
    EXPECT_EQ(comments.network.sbase, 100.0);
    EXPECT_EQ(comments.warnings, "");
}

TEST(InputReader, CommentLinesAreReplaced) {
    TempFile file("! new\nBUS A 1 0 0 0;\n");
    Network network;
    network.comment_lines = {"! old"};
    SolverParams params;
    InputParser().load(file.path(), network, params);
    EXPECT_EQ(network.comment_lines, std::vector<std::string>{"! new"});
}

TEST(InputReader, EveryRecordIsKeptRaw) {
    Loaded l = load_text("$sbase 100;\nfoo 1 'a b';\nbus A 1 0 0 0;\n$FOO 3;\nTRFO T A;\n");
    const auto& raw = l.network.raw_records;
    ASSERT_EQ(raw.size(), 5u);
    EXPECT_EQ(raw[0].keyword, "$SBASE");
    EXPECT_EQ(raw[1].keyword, "FOO");
    EXPECT_EQ(raw[1].fields, (std::vector<std::string>{"1", "a b"}));
    EXPECT_EQ(raw[2].keyword, "BUS");
    EXPECT_EQ(raw[2].fields[0], "A");  // field case kept
    EXPECT_EQ(raw[3].keyword, "$FOO");
    EXPECT_EQ(raw[4].keyword, "TRFO");  // skipped by its handler, kept all the same
    // Record indexes count every record, "$" records included.
    ASSERT_EQ(l.network.buses.size(), 1u);
    EXPECT_EQ(l.network.buses[0].record, 2);
}

TEST(InputReader, LineBeforeItsBusesLoads) {
    Loaded l = load_text("LINE L A B 1 10 0 100 1;\nBUS A 10 0 0 0;\nBUS B 10 0 0 0;\n");
    ASSERT_EQ(l.network.branches.size(), 1u);
    EXPECT_EQ(l.network.branches[0].from, 0);
    EXPECT_EQ(l.network.branches[0].to, 1);
    EXPECT_EQ(l.network.branches[0].record, 0);
    EXPECT_EQ(l.network.buses[0].record, 1);
}

TEST(InputReader, LtcBeforeItsBranchLoads) {
    Loaded l = load_text("LTC-V L B 90 110 21 0.01 1.0;\nBUS A 10 0 0 0;\nBUS B 10 0 0 0;\n"
                         "LINE L A B 1 10 0 100 1;\n");
    ASSERT_EQ(l.network.tap_regulators.size(), 1u);
    EXPECT_EQ(l.network.tap_regulators[0].branch, 0);
    EXPECT_EQ(l.network.branches[0].kind, BRANCH_REGULATED_TRANSFORMER);
}

TEST(InputReader, UnknownKeywordWarnsOncePerLoad) {
    const std::string text = "FOO 1;\nBUSX 2;\nfoo 3;\nBUS A 1 0 0 0;\n";
    const std::string expected = "varnok: skipping unknown record type 'FOO'\n"
                                 "varnok: skipping unknown record type 'BUSX'\n";
    EXPECT_EQ(load_text(text).warnings, expected);
    EXPECT_EQ(load_text(text).warnings, expected);  // a second load warns again
}

TEST(InputReader, LfresvRecordIndexIsStored) {
    Loaded l = load_text("BUS A 1 0 0 0;\nBUS B 1 0 0 0;\nLFRESV B 0.98 -0.1;\n");
    EXPECT_EQ(l.network.buses[0].lfresv_record, -1);
    EXPECT_EQ(l.network.buses[1].lfresv_record, 2);
}

TEST(InputReader, TurlimFailsInTheElementPass) {
    Network network;
    SolverParams params;
    TempFile file("BUS A 10 0 0 0;\nBUS B 10 0 0 0;\nLINE L1 A B 1 10 0 1 1;\nTURLIM G1 1 2;\n"
                  "LINE L2 A B 1 10 0 1 1;\n");
    try {
        InputParser().load(file.path(), network, params);
        ADD_FAILURE() << "TURLIM loaded";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "TURLIM record 'G1' is not supported. Use 12/13-field GENER records to specify "
                  "PMIN, PMAX, and participation.");
    }
    EXPECT_EQ(network.branches.size(), 1u);  // the records before it were built
    EXPECT_EQ(network.raw_records.size(), 5u);

    EXPECT_EQ(load_error("TURLIM;"),
              "TURLIM is not supported. Use 12/13-field GENER records to specify PMIN, PMAX, and "
              "participation.");
}

TEST(InputReader, PshiftIFailsAfterTheElementPass) {
    Network network;
    SolverParams params;
    TempFile file("BUS A 10 0 0 0;\nPSHIFT-I X;\nBUS B 10 0 0 0;\nLINE L1 A B 1 10 0 1 1;\n");
    try {
        InputParser().load(file.path(), network, params);
        ADD_FAILURE() << "PSHIFT-I loaded";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "InputParser: PSHIFT-I (current control) not supported");
    }
    EXPECT_EQ(network.branches.size(), 1u);
}

TEST(InputReader, BothTapChangerAndPhaseShifterOnABranchFail) {
    const std::string net = "BUS A 10 0 0 0;\nBUS B 10 0 0 0;\nLINE L1 A B 1 10 0 100 1;\n"
                            "LINE L2 A B 1 10 0 100 1;\n";
    EXPECT_EQ(load_error(net + "PSHIFT-P L2 L1 -10 10 21 1 50 5;\nLTC-V L2 A 90 110 21 0.01 1;\n"),
              "InputParser: transformer 'L2' is both voltage and active power controlled");
    // A tap changer made by a TRFO record counts too.
    EXPECT_EQ(load_error(net + "TRFO T A B A 0 10 0 100 100 90 110 21 0.01 1 1;\n"
                               "PSHIFT-P T L1 -10 10 21 1 50 5;\n"),
              "InputParser: transformer 'T' is both voltage and active power controlled");
    // On different branches they coexist.
    EXPECT_EQ(load_error(net + "PSHIFT-P L2 L1 -10 10 21 1 50 5;\nLTC-V L1 A 90 110 21 0.01 1;\n"),
              "");
}

// --- "$" records --------------------------------------------------------------------------------

TEST(SettingsRecords, EachKeySetsItsMember) {
    Loaded l = load_text("$SBASE 50;\n$TOLAC 0.5;\n$TOLREAC 0.25;\n$NBITMA 7;\n$MISBLOC 3;\n"
                         "$MISADJ 4;\n$MISQLIM 5;\n$PLIM 0;\n$DIVDET 2.5;\n");
    const SolverParams& p = l.params;
    EXPECT_EQ(p.sbase, 50.0);
    EXPECT_EQ(p.tolac, 0.5);
    EXPECT_EQ(p.tolreac, 0.25);
    EXPECT_EQ(p.nbitma, 7);
    EXPECT_EQ(p.misbloc, 3.0);
    EXPECT_EQ(p.misadj, 4.0);
    EXPECT_EQ(p.misqlim, 5.0);
    EXPECT_EQ(p.plim, 0);
    EXPECT_EQ(p.divdet, 2.5);
    EXPECT_EQ(l.network.sbase, 50.0);
}

TEST(SettingsRecords, ValuesAndOrder) {
    struct Case {
        std::string text;
        double tolac;
        int nbitma;
        int plim;
    };
    const SolverParams defaults;
    const std::vector<Case> cases = {
        {"$NBITMA 20.9;", defaults.tolac, 20, defaults.plim},
        {"$PLIM -3.7;", defaults.tolac, defaults.nbitma, -3},
        {"$TOLAC 0.1x;", 0.1, defaults.nbitma, defaults.plim},
        {"$TOLAC 1e-3;", 1e-3, defaults.nbitma, defaults.plim},
        {"$TOLAC 0.5;\n$TOLAC 0.7;", 0.7, defaults.nbitma, defaults.plim},
        {"$tolac 0.3;", 0.3, defaults.nbitma, defaults.plim},
        {"$FOO 1;\n$FOO;\n$ 1 2;", defaults.tolac, defaults.nbitma, defaults.plim},
        {"$NBITMA ' 12';", defaults.tolac, 12, defaults.plim},
    };
    for (const Case& c : cases) {
        Loaded l = load_text(c.text);
        EXPECT_EQ(l.params.tolac, c.tolac) << c.text;
        EXPECT_EQ(l.params.nbitma, c.nbitma) << c.text;
        EXPECT_EQ(l.params.plim, c.plim) << c.text;
        EXPECT_EQ(l.warnings, "") << c.text;
    }
}

TEST(SettingsRecords, MissingKeysKeepTheHandlesSettings) {
    SolverParams before;
    before.tolac = 0.02;
    before.nbitma = 99;
    Loaded l = load_text("$TOLREAC 0.3;", before);
    EXPECT_EQ(l.params.tolac, 0.02);
    EXPECT_EQ(l.params.nbitma, 99);
    EXPECT_EQ(l.params.tolreac, 0.3);
}

TEST(SettingsRecords, BaseAtTheEndConvertsEveryBus) {
    Loaded l = load_text("BUS A 400 50 20 10;\n$SBASE 50;\n");
    EXPECT_EQ(l.network.sbase, 50.0);
    EXPECT_EQ(l.network.buses[0].p_load, 1.0);
    EXPECT_EQ(l.network.buses[0].q_load, 0.4);
    EXPECT_EQ(l.network.buses[0].b_shunt, 0.2);
}

TEST(SettingsRecords, Refusals) {
    EXPECT_EQ(load_error("$TOLAC 1 2;"), "InputParser: $TOLAC record has not 1 field");
    EXPECT_EQ(load_error("$sbase;"), "InputParser: $SBASE record has not 1 field");
    // Integer settings that no int holds are refused rather than wrapped.
    EXPECT_EQ(load_error("$NBITMA 1e20;"),
              "InputParser: $NBITMA value is out of the range of an integer");
    EXPECT_EQ(load_error("$PLIM nan;"), "InputParser: $PLIM value is out of the range of an integer");
    // A base power of 0 would divide every conversion by zero.
    EXPECT_EQ(load_error("$SBASE 0;"), "InputParser: base power is 0");
}

// A NaN threshold would fail every comparison and switch its control off: the real settings
// refuse it; infinity keeps its meaning of no limit.
TEST(SettingsRecords, NotANumberRefusedInfinityKept) {
    for (const char* key :
         {"$SBASE", "$TOLAC", "$TOLREAC", "$MISBLOC", "$MISADJ", "$MISQLIM", "$DIVDET"}) {
        for (const char* value : {"nan", "-NaN", "nan(0x1)"})
            EXPECT_EQ(load_error(std::string(key) + " " + value + ";"),
                      std::string("InputParser: ") + key + " value is not a number")
                << value;
    }
    const Loaded l = load_text("$MISQLIM inf;\n$MISADJ infinity;\n$TOLAC -inf;\n");
    EXPECT_EQ(l.params.misqlim, std::numeric_limits<double>::infinity());
    EXPECT_EQ(l.params.misadj, std::numeric_limits<double>::infinity());
    EXPECT_EQ(l.params.tolac, -std::numeric_limits<double>::infinity());
}

TEST(SettingsRecords, ConversionFailuresPassUnwrapped) {
    for (const char* text : {"$TOLAC x;", "$SBASE ' ';", "$NBITMA -;"})
        EXPECT_THROW(load_text(text), std::invalid_argument) << text;
    EXPECT_THROW(load_text("$TOLAC 1e999;"), std::out_of_range);
}

TEST(SettingsRecords, FailureLeavesEarlierSettingsAndSbase) {
    TempFile file("$TOLAC 0.5;\n$SBASE 10;\n$TOLREAC x;\n");
    Network network;
    SolverParams params;
    EXPECT_THROW(InputParser().load(file.path(), network, params), std::invalid_argument);
    EXPECT_EQ(params.tolac, 0.5);
    EXPECT_EQ(params.sbase, 10.0);
    EXPECT_EQ(network.sbase, 100.0);  // not yet copied
    EXPECT_EQ(network.raw_records.size(), 3u);
}

// --- Reference networks ---------------------------------------------------------------------

// Counts, straight from the file text, the records of each keyword (every reference file writes
// one record per line, keyword first).
std::map<std::string, int> count_keywords(const std::string& path) {
    std::ifstream in(path);
    std::map<std::string, int> counts;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string keyword;
        if (!(words >> keyword) || keyword[0] == '!' || keyword[0] == '#') continue;
        for (char& c : keyword) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        ++counts[keyword];
    }
    return counts;
}

TEST(ReferenceNetworks, EveryCaseLoadsWithItsCounts) {
    // buses and branches of the reference networks' table
    const std::map<std::string, std::pair<size_t, size_t>> table = {
        {"case9", {9, 9}},         {"case14", {14, 20}},       {"case30", {30, 41}},
        {"case118", {118, 186}},   {"case300", {300, 428}},    {"case2383wp", {2383, 2896}},
        {"case9241pegase", {9241, 16341}},
    };
    size_t seen = 0;
    for (const auto& entry : std::filesystem::directory_iterator(VARNOK_CASES_DIR)) {
        if (entry.path().extension() != ".txt") continue;
        const std::string path = entry.path().string();
        SCOPED_TRACE(path);
        Network network;
        SolverParams params;
        ::testing::internal::CaptureStderr();
        EXPECT_NO_THROW(InputParser().load(path, network, params));
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

        auto counts = count_keywords(path);
        const size_t branches = static_cast<size_t>(counts["LINE"] + counts["TRANSFO"] +
                                                    counts["TRFO"] + counts["SWITCH"] +
                                                    counts["NRTP"]);
        EXPECT_EQ(network.buses.size(), static_cast<size_t>(counts["BUS"]));
        EXPECT_EQ(network.branches.size(), branches);
        const auto known = table.find(entry.path().stem().string());
        if (known != table.end()) {
            EXPECT_EQ(network.buses.size(), known->second.first);
            EXPECT_EQ(network.branches.size(), known->second.second);
            ++seen;
        }
        size_t records = 0;
        for (const auto& kv : counts) records += static_cast<size_t>(kv.second);
        EXPECT_EQ(network.raw_records.size(), records);
        EXPECT_EQ(network.sbase, params.sbase);
    }
    EXPECT_EQ(seen, table.size());
}

}  // namespace
}  // namespace varnok

namespace varnok {
namespace {

// --- Data files --------------------------------------------------------------------------------

Loaded load_data_file(const std::string& name) {
    return reader_test::load_file(std::string(VARNOK_TEST_DATA_DIR) + "/reader/" + name);
}

TEST(ReaderDataFiles, LexicalCornerCases) {
    Loaded l = load_data_file("lexical.txt");
    const Network& n = l.network;
    ASSERT_EQ(n.buses.size(), 3u);
    EXPECT_EQ(n.buses[0].name, "A 1");
    EXPECT_EQ(n.buses[2].name, "C'1");
    ASSERT_EQ(n.branches.size(), 3u);
    EXPECT_EQ(n.branches[0].name, "L 1");
    EXPECT_EQ(n.branches[0].from, 0);
    EXPECT_EQ(n.branches[1].name, "S1");
    EXPECT_EQ(n.branches[2].name, "L2");  // the last record lacks its ";"
    EXPECT_EQ(n.comment_lines.size(), 2u);
    EXPECT_EQ(l.warnings, "varnok: skipping unknown record type '!X'\n"
                          "varnok: skipping unknown record type 'UNKNOWN'\n");
}

TEST(ReaderDataFiles, CrLfFile) {
    Loaded l = load_data_file("crlf.txt");
    EXPECT_EQ(l.network.buses.size(), 2u);
    ASSERT_EQ(l.network.branches.size(), 1u);
    EXPECT_EQ(l.network.branches[0].status, 1);
    EXPECT_EQ(l.network.comment_lines, std::vector<std::string>{"! crlf"});
    EXPECT_EQ(l.network.buses[1].name, "B");
}

TEST(ReaderDataFiles, EveryRecordKind) {
    Loaded l = load_data_file("all_records.txt");
    const Network& n = l.network;
    EXPECT_EQ(l.warnings, "");
    EXPECT_EQ(n.comment_lines.size(), 3u);
    EXPECT_EQ(l.params.nbitma, 25);
    EXPECT_EQ(l.params.tolreac, 0.01);
    EXPECT_EQ(n.buses.size(), 6u);
    EXPECT_EQ(n.branches.size(), 8u);
    EXPECT_EQ(n.find_branch("N2-N5"), 4);
    EXPECT_EQ(n.tap_regulators.size(), 2u);
    EXPECT_EQ(n.branches[3].kind, BRANCH_REGULATED_TRANSFORMER);  // T34 under its LTC-V
    EXPECT_EQ(n.generators.size(), 2u);
    EXPECT_EQ(n.svcs.size(), 1u);
    EXPECT_EQ(n.slack_bus, 0);
    EXPECT_EQ(n.buses[1].record, 6);
    EXPECT_EQ(n.buses[0].lfresv_record, 23);
    EXPECT_EQ(n.buses[1].lfresv_record, 24);
    EXPECT_EQ(n.zones.size(), 2u);
    EXPECT_EQ(n.cuts.size(), 1u);
    EXPECT_EQ(n.phase_shifters.size(), 1u);
}

}  // namespace
}  // namespace varnok
