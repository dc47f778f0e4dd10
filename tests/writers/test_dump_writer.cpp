// The input-file dump: exact files, the token and line-folding rules, what reads back, failures.
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "network/InputParser.h"
#include "network/Network.h"
#include "network/reader_fixture.h"
#include "writers/DumpWriter.h"
#include "writers/report_text.h"

namespace varnok {
namespace {

using report_test::read_text;
using report_test::report_path;
using Fields = std::vector<std::string>;

std::string dumped(Network& network) {
    const std::string path = report_path("dump.txt");
    DumpWriter().dump(network, path);
    std::string text = read_text(path);
    std::remove(path.c_str());
    return text;
}

// A network of raw records only: the write-back has nothing to write into them.
Network records_only(const std::vector<RawRecord>& records) {
    Network network;
    network.raw_records = records;
    return network;
}

std::string dumped_records(const std::vector<RawRecord>& records) {
    Network network = records_only(records);
    return dumped(network);
}

TEST(DumpWriter, ExactFileOfALoadedNetwork) {
    reader_test::Loaded loaded = reader_test::load_text(
        "! a small network\n"
        "$SBASE 100;\n"
        "BUS 'A 1' 400 10 5 0;\n"
        "# between records\n"
        "BUS B 400 0 0 0 ; LINE L 'A 1' B\n"
        "! inside a record\n"
        "  1 10 0 100 1;\n"
        "GENER G 'A 1' 50 0 1.02 0 -100 100 1;\n"
        "SLACK 'A 1';\n"
        "LFRESV B 0.98 -0.1;\n"
        "end;\n");
    loaded.network.buses[1].v = 0.975;
    loaded.network.buses[1].angle = -0.125;
    EXPECT_EQ(dumped(loaded.network),
              "! a small network\n"
              "# between records\n"
              "! inside a record\n"
              "$SBASE 100 ;\n"
              "BUS 'A 1' 400 10 5 0 ;\n"
              "BUS B 400 0 0 0 ;\n"
              "LINE L 'A 1' B 1 10 0 100 1 ;\n"
              "GENER G 'A 1' 50 0 1.02 0 -100 100 1 ;\n"
              "SLACK 'A 1' ;\n"
              "LFRESV B 0.975 -0.125 ;\n"
              "END ;\n"
              "LFRESV 'A 1' 1.02 0 ;\n");
}

TEST(DumpWriter, ExactFileOfTokensAndFoldedLines) {
    const Fields ten = {"F000000001", "F000000002", "F000000003", "F000000004", "F000000005",
                        "F000000006", "F000000007", "F000000008", "F000000009", "F000000010"};
    Fields eleven = ten;
    eleven.push_back("#000000011");
    Fields quote_first = ten;
    quote_first.push_back("#'x");
    const std::string line_of_ten = "KEYWORD8 F000000001 F000000002 F000000003 F000000004 "
                                    "F000000005 F000000006 F000000007 F000000008 F000000009 "
                                    "F000000010";
    ASSERT_EQ(line_of_ten.size(), 118u);
    const std::string k108(108, 'K');
    const std::string k109(109, 'K');
    const std::string f40(40, 'f');

    EXPECT_EQ(dumped_records({
                  {"BUS", {}},
                  {"", {"skipped"}},
                  {"R", {"", "   ", " 0.0000000E+00 ", "0.0000000E+001", "0.0000000e+00", "  x  "}},
                  {"R", {"A B", "A,B", "A/B", "A'B", "A 'B", "a\tb", "a;b", "!x", "#x", "x#!"}},
                  {"R", {"A',B", "#'x", "/'"}},
                  {"KEYWORD8", eleven},
                  {"KEYWORD8", quote_first},
                  {k108, {f40}},
                  {k109, {"f"}},
              }),
              "BUS ;\n"
              "R ' ' ' ' 0. 0.0000000E+001 0.0000000e+00 x ;\n"
              "R 'A B' 'A,B' 'A/B' A'B 'A 'B' 'a\tb' 'a;b' '!x' '#x' x#! ;\n"
              "R A',B #'x /' ;\n" +
                  line_of_ten + "\n'#000000011' ;\n" +
                  line_of_ten + "\n #'x ;\n" +
                  k108 + " " + f40 + " ;\n" +
                  k109 + "\nf ;\n");
}

TEST(DumpWriter, KeywordIsQuotedWholeOnlyWhenItMustBe) {
    struct Case {
        std::string keyword;
        std::string line;
    };
    const Case cases[] = {
        {"LINE", "LINE 1 ;\n"},
        {"K Y", "'K Y' 1 ;\n"},
        {"  K", "'  K' 1 ;\n"},   // leading blanks kept, inside the quotes
        {"   ", "'   ' 1 ;\n"},   // blanks only: never trimmed
        {"K\tY", "'K\tY' 1 ;\n"},
        {"K;Y", "'K;Y' 1 ;\n"},
        {"K,Y", "'K,Y' 1 ;\n"},
        {"K/Y", "'K/Y' 1 ;\n"},
        {"!X", "'!X' 1 ;\n"},
        {"#X", "'#X' 1 ;\n"},
        {"X!", "X! 1 ;\n"},
        {"#'X", " #'X 1 ;\n"},    // cannot be quoted: a blank keeps it off the line's start
    };
    for (const Case& c : cases) {
        EXPECT_EQ(dumped_records({{c.keyword, {"1"}}}), c.line) << c.keyword;
        EXPECT_EQ(dumped_records({{c.keyword, {}}}), c.line.substr(0, c.line.size() - 4) + ";\n")
            << c.keyword;
    }
}

// What the reader makes of the dump of one record: its keyword and fields, and the comments.
struct ReadBack {
    std::vector<InputParser::Record> records;
    std::vector<std::string> comments;
};

ReadBack read_back(const std::vector<RawRecord>& records) {
    reader_test::TempFile file(dumped_records(records));
    ReadBack back;
    back.records = InputParser().tokenize(file.path(), back.comments);
    return back;
}

TEST(DumpWriter, EveryTokenReadsBackAsItsField) {
    // each field stands at the start of a continuation line (after ten fields of 10 characters)
    // and in the middle of one, and the record must go on after it
    const Fields ten(10, "F000000001");
    struct Case {
        std::string field;
        std::string read;
    };
    const Case cases[] = {
        {"a\tb", "a\tb"}, {"\t", "\t"},   {"a;b", "a;b"},     {"!x", "!x"},     {"#x", "#x"},
        {"A B", "A B"},   {"A,B", "A,B"}, {"A/B", "A/B"},     {"A'B", "A'B"},   {"A',B", "A',B"},
        {"#'x", "#'x"},   {"!'", "!'"},   {"  x  ", "x"},     {"   ", " "},     {" ", " "},
        {"0.0000000E+00", "0."},          {"\t x", "\t x"},   {"x!#;", "x!#;"},
    };
    for (const Case& c : cases) {
        Fields fields = ten;
        fields.insert(fields.end(), {c.field, "mid", c.field, "end"});
        const ReadBack back = read_back({{"R", fields}, {"NEXT", {}}});
        Fields expected = ten;
        expected.insert(expected.end(), {c.read, "mid", c.read, "end"});
        ASSERT_EQ(back.records.size(), 2u) << c.field;
        EXPECT_EQ(back.records[0].fields, expected) << c.field;
        EXPECT_TRUE(back.comments.empty()) << c.field;
    }
}

TEST(DumpWriter, EveryKeywordReadsBack) {
    for (const std::string keyword : {"K Y", "  K", "   ", "K\tY", "K;Y", "!X", "#X", "#'X"}) {
        const ReadBack back = read_back({{keyword, {"1"}}, {keyword, {}}});
        ASSERT_EQ(back.records.size(), 2u) << keyword;
        EXPECT_EQ(back.records[0].keyword, keyword);
        EXPECT_EQ(back.records[0].fields, Fields{"1"});
        EXPECT_EQ(back.records[1].keyword, keyword);
        EXPECT_TRUE(back.comments.empty()) << keyword;
    }
}

TEST(DumpWriter, SecondDumpUpdatesTheAppendedLfresvRecords) {
    reader_test::Loaded loaded = reader_test::load_text("BUS A 400 0 0 0; BUS B 400 0 0 0;");
    const std::string first = dumped(loaded.network);
    EXPECT_EQ(first, "BUS A 400 0 0 0 ;\nBUS B 400 0 0 0 ;\nLFRESV A 1 0 ;\nLFRESV B 1 0 ;\n");
    EXPECT_EQ(dumped(loaded.network), first);
    loaded.network.buses[0].v = 1.05;
    EXPECT_EQ(dumped(loaded.network),
              "BUS A 400 0 0 0 ;\nBUS B 400 0 0 0 ;\nLFRESV A 1.05 0 ;\nLFRESV B 1 0 ;\n");
}

TEST(DumpWriter, PathThatCannotBeOpenedStillWritesBack) {
    reader_test::Loaded loaded = reader_test::load_text("BUS A 400 0 0 0;");
    const std::string path = "/nonexistent-dir/dump.txt";
    EXPECT_EQ(reader_test::refusal([&] { DumpWriter().dump(loaded.network, path); }),
              "DumpWriter: cannot open file: " + path);
    ASSERT_EQ(loaded.network.raw_records.size(), 2u);
    EXPECT_EQ(loaded.network.raw_records[1].keyword, "LFRESV");
    EXPECT_EQ(dumped(loaded.network), "BUS A 400 0 0 0 ;\nLFRESV A 1 0 ;\n");
}

TEST(DumpWriter, FullDiskIsReported) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full on this system";
    reader_test::Loaded loaded = reader_test::load_text("BUS A 400 0 0 0;");
    EXPECT_EQ(reader_test::refusal([&] { DumpWriter().dump(loaded.network, "/dev/full"); }),
              "DumpWriter: cannot write file: /dev/full");
}

}  // namespace
}  // namespace varnok
