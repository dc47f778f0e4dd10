// The contingency file reader: one table of small files against the list and the messages they
// give; then trimming, a file that cannot be opened and the N-1 list.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "comma_locale.h"
#include "network/reader_fixture.h"
#include "powerflow/network_builders.h"
#include "studies/ContingencyAnalysis.h"
#include "studies/ContingencyFileParser.h"

namespace varnok {
namespace {

using reader_test::TempFile;
using Steps = std::vector<ContingencyStep>;

constexpr int BT = ContingencyStep::TRIP_BRANCH;
constexpr int GT = ContingencyStep::TRIP_GENERATOR;
constexpr int ST = ContingencyStep::TRIP_SVC;
constexpr int HC = ContingencyStep::SHUNT_COMPENSATION;
constexpr int UR = ContingencyStep::UNREADABLE;

struct ReaderCase {
    const char* what;
    std::string text;
    std::vector<Contingency> list;
    std::string log;
};

std::string describe(const std::vector<Contingency>& list) {
    std::ostringstream out;
    for (const Contingency& c : list) {
        out << "[" << c.name << "]";
        for (const ContingencyStep& s : c.steps)
            out << " (" << s.kind << " [" << s.name << "] " << s.value << ")";
        out << "\n";
    }
    return out.str();
}

void expect_same(const std::vector<Contingency>& got, const std::vector<Contingency>& want) {
    ASSERT_EQ(got.size(), want.size()) << describe(got);
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].name, want[i].name);
        ASSERT_EQ(got[i].steps.size(), want[i].steps.size()) << describe(got);
        for (std::size_t k = 0; k < want[i].steps.size(); ++k) {
            EXPECT_EQ(got[i].steps[k].kind, want[i].steps[k].kind) << describe(got);
            EXPECT_EQ(got[i].steps[k].name, want[i].steps[k].name) << describe(got);
            EXPECT_EQ(got[i].steps[k].value, want[i].steps[k].value) << describe(got);
        }
    }
}

TEST(ContingencyReader, FilesGiveTheirListsAndMessages) {
    const std::vector<ReaderCase> cases = {
        {"empty file", "", {}, ""},
        {"blank lines only", "\n \t \n\r\n\n", {}, ""},
        {"one word", "alone", {{"alone", {}}}, ""},
        {"name trimmed", " \t N 1 \t\r\n", {{"N 1", {}}}, ""},
        {"other white space stays", "\vname\f\n", {{"\vname\f", {}}}, ""},
        {"a name line that reads BT is a name", "BT\nBT\nL1\n", {{"BT", Steps{{BT, "L1", 0}}}},
         ""},
        {"keywords in any case, blank lines between actions",
         "c\n\ngt\nG1\n  \t\nbt1\nL1\nskipped\nSt\n S1 \nbT\nL2\nend_contingency\n",
         {{"c", Steps{{GT, "G1", 0}, {BT, "L1", 0}, {ST, "S1", 0}, {BT, "L2", 0}}}},
         ""},
        {"keyword and name on one line", "c\n  BT L1 \nGT\nG1\n",
         {{"c", Steps{{UR, "unknown contingency action: BT L1", 0}, {GT, "G1", 0}}}},
         " unknown contingency action: BT L1\n"},
        {"upper-case terminator does not end", "c\nEND_CONTINGENCY\nBT\nL1\n",
         {{"c", Steps{{UR, "unknown contingency action: END_CONTINGENCY", 0}, {BT, "L1", 0}}}},
         " unknown contingency action: END_CONTINGENCY\n"},
        {"terminator among other text ends", "c\nBT\nL1\n-- end_contingency here\nnext\n",
         {{"c", Steps{{BT, "L1", 0}}}, {"next", {}}},
         ""},
        {"an action line starting with a keyword and holding the terminator ends",
         "c\nGT end_contingency\nd\n", {{"c", {}}, {"d", {}}}, ""},
        {"operand lines are never the terminator",
         "c\nBT\nend_contingency\nGT\nG1\nend_contingency\n",
         {{"c", Steps{{BT, "end_contingency", 0}, {GT, "G1", 0}}}},
         ""},
        {"BT1 swallows the line after its name",
         "c\nBT1\nL1\nend_contingency\nGT\nG1\nend_contingency\n",
         {{"c", Steps{{BT, "L1", 0}, {GT, "G1", 0}}}},
         ""},
        {"BT1 name as the last line", "c\nBT1\nL1", {{"c", Steps{{BT, "L1", 0}}}}, ""},
        {"operands taken as they come, blank or not", "c\nGT\n\nG1\nST\n\t\n",
         {{"c", Steps{{GT, "", 0}, {UR, "unknown contingency action: G1", 0}, {ST, "", 0}}}},
         " unknown contingency action: G1\n"},
        {"HC conversions",
         "c\nHC\n B1 \n -25.5 Mvar \nhc\nB2\nabc\nHC\nB3\n1e999\nHC\nB4\n1e-400\nHC\nB5\n\t+3e2\n"
         "HC\nB6\n.5e1x\nend_contingency\n",
         {{"c", Steps{{HC, "B1", -25.5},
                      {UR, "invalid HC compensation value: abc", 0},
                      {UR, "invalid HC compensation value: 1e999", 0},
                      {UR, "invalid HC compensation value: 1e-400", 0},
                      {HC, "B5", 300.0},
                      {HC, "B6", 5.0}}}},
         " invalid HC compensation value: abc\n"
         " invalid HC compensation value: 1e999\n"
         " invalid HC compensation value: 1e-400\n"},
        {"HC values that are not finite, in any case and with signs",
         "c\nHC\nB1\nnan\nHC\nB2\n -NaN \nHC\nB3\n+nan(12)\nHC\nB4\ninf\nHC\nB5\n-INF Mvar\n"
         "HC\nB6\n\t+Inf\r\nHC\nB7\ninfinity\nHC\nB8\n-InFiNiTy\nHC\nB9\n+INFINITY\nHC\nB10\n"
         "1e308\nend_contingency\n",
         {{"c", Steps{{UR, "invalid HC compensation value: nan", 0},
                      {UR, "invalid HC compensation value: -NaN", 0},
                      {UR, "invalid HC compensation value: +nan(12)", 0},
                      {UR, "invalid HC compensation value: inf", 0},
                      {UR, "invalid HC compensation value: -INF Mvar", 0},
                      {UR, "invalid HC compensation value: +Inf", 0},
                      {UR, "invalid HC compensation value: infinity", 0},
                      {UR, "invalid HC compensation value: -InFiNiTy", 0},
                      {UR, "invalid HC compensation value: +INFINITY", 0},
                      {HC, "B10", 1e308}}}},
         " invalid HC compensation value: nan\n"
         " invalid HC compensation value: -NaN\n"
         " invalid HC compensation value: +nan(12)\n"
         " invalid HC compensation value: inf\n"
         " invalid HC compensation value: -INF Mvar\n"
         " invalid HC compensation value: +Inf\n"
         " invalid HC compensation value: infinity\n"
         " invalid HC compensation value: -InFiNiTy\n"
         " invalid HC compensation value: +INFINITY\n"},
        {"HC value line empty", "c\nHC\nB1\n\nend_contingency\n",
         {{"c", Steps{{UR, "invalid HC compensation value: ", 0}}}},
         " invalid HC compensation value: \n"},
        {"a missing terminator: the next name line is an unknown action of the one before",
         "a\nBT\nL1\nb\nGT\nG1\nend_contingency\nc\nST\nS1\n",
         {{"a", Steps{{BT, "L1", 0}, {UR, "unknown contingency action: b", 0}, {GT, "G1", 0}}},
          {"c", Steps{{ST, "S1", 0}}}},
         " unknown contingency action: b\n"},
        {"each contingency keeps its own messages",
         "a\nBX\nend_contingency\nb\nHC\nB1\nx\nend_contingency\nc\n",
         {{"a", Steps{{UR, "unknown contingency action: BX", 0}}},
          {"b", Steps{{UR, "invalid HC compensation value: x", 0}}},
          {"c", {}}},
         " unknown contingency action: BX\n invalid HC compensation value: x\n"},
        {"HC operand lines are not the terminator", "c\nHC\nend_contingency\n7\n",
         {{"c", Steps{{HC, "end_contingency", 7.0}}}},
         ""},
        {"end of file in place of a name", "c\nBT\nL1\nGT\n", {{"c", Steps{{BT, "L1", 0}}}}, ""},
        {"end of file in place of the HC value", "c\nHC\nB1", {{"c", {}}}, ""},
        {"two terminators in a row", "c\nend_contingency\nend_contingency\nBT\nL1\n",
         {{"c", {}}, {"end_contingency", Steps{{BT, "L1", 0}}}},
         ""},
        {"same names kept", "a\nend_contingency\n\n\na\n", {{"a", {}}, {"a", {}}}, ""},
        {"CR LF line ends", "c\r\nBT\r\nL1\r\nend_contingency\r\nd\r\n",
         {{"c", Steps{{BT, "L1", 0}}}, {"d", {}}},
         ""},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const ReaderCase& c = cases[i];
        SCOPED_TRACE(c.what);
        TempFile file(c.text, std::to_string(i));
        std::ostringstream log;
        const std::vector<Contingency> list = ContingencyFileParser().parse(file.path(), &log);
        expect_same(list, c.list);
        EXPECT_EQ(log.str(), c.log);
        // The log holds the messages of the unreadable steps, in file order.
        std::string messages;
        for (const Contingency& contingency : list)
            for (const ContingencyStep& step : contingency.steps)
                if (step.kind == UR) messages += " " + step.name + "\n";
        EXPECT_EQ(messages, c.log);
        // Without a stream the list is the same.
        expect_same(ContingencyFileParser().parse(file.path(), nullptr), c.list);
    }
}

TEST(ContingencyReader, CompensationReadsTheDecimalPointUnderAHostLocale) {
    test_support::CommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << test_support::CommaLocale::skip_reason();
    TempFile file("c\nHC\nB1\n-25.5 Mvar\n");
    const std::vector<Contingency> list = ContingencyFileParser().parse(file.path(), nullptr);
    ASSERT_EQ(list.size(), 1u);
    ASSERT_EQ(list[0].steps.size(), 1u);
    EXPECT_EQ(list[0].steps[0].value, -25.5);
}

TEST(ContingencyReader, FileThatCannotBeOpened) {
    const std::string path = "/nonexistent/varnok/list.ctg";
    std::ostringstream log;
    EXPECT_TRUE(ContingencyFileParser().parse(path, &log).empty());
    EXPECT_EQ(log.str(), " Cannot open contingency file: /nonexistent/varnok/list.ctg\n");
    EXPECT_TRUE(ContingencyFileParser().parse(path, nullptr).empty());
}

// A read that fails (here at once: /proc/self/mem opens, but nothing is mapped at offset 0) is
// told apart from the end of the file.
TEST(ContingencyReader, ReadErrorIsToldApartFromTheEndOfTheFile) {
    const std::string mem = "/proc/self/mem";
    {
        std::ifstream in(mem);
        std::string line;
        if (!in.is_open() || std::getline(in, line) || !in.bad())
            GTEST_SKIP() << mem << " does not open and fail to read here";
    }
    std::ostringstream log;
    bool failed = false;
    EXPECT_TRUE(ContingencyFileParser().parse(mem, &log, &failed).empty());
    EXPECT_TRUE(failed);
    EXPECT_EQ(log.str(), "");
    EXPECT_TRUE(ContingencyFileParser().parse(mem, nullptr).empty());

    TempFile file("c\nBT\nL1\n");
    expect_same(ContingencyFileParser().parse(file.path(), &log, &failed),
                {{"c", Steps{{BT, "L1", 0}}}});
    EXPECT_FALSE(failed);
}

TEST(ContingencyReader, TrimRemovesBlanksTabsAndLineEndsOnly) {
    EXPECT_EQ(trim(""), "");
    EXPECT_EQ(trim(" \t\r\n \r"), "");
    EXPECT_EQ(trim("\t a b \r\n"), "a b");
    EXPECT_EQ(trim("\v x \f"), "\v x \f");
    EXPECT_EQ(trim("\xc2\xa0x\xc2\xa0"), "\xc2\xa0x\xc2\xa0");
}

// Two buses joined by two branches (one open), the slack generator and a second unit, and two
// compensators (one out of service).
Network n1_network() {
    Network net;
    add_plain_bus(net, "S", SLACK);
    add_plain_bus(net, "A", PV);
    net.slack_bus = 0;
    net.add_branch(reactance("L1", 0, 1, 0.1));
    Branch open = reactance("L2", 0, 1, 0.1);
    open.status = 0;
    net.add_branch(open);
    net.add_branch(reactance("L3", 1, 0, 0.2));
    add_unit(net, "GS", 0, GEN_VOLTAGE_CONTROL, 0.0, 1.0);
    add_unit(net, "GA", 1, GEN_VOLTAGE_CONTROL, 0.5, 1.0);
    Generator status2;
    status2.name = "G2";
    status2.bus = 1;
    status2.status = 2;
    net.add_generator(status2);
    SVC c1;
    c1.name = "C1";
    c1.bus = 1;
    net.add_svc(c1);
    SVC c2 = c1;
    c2.name = "C2";
    c2.status = 0;
    net.add_svc(c2);
    return net;
}

std::vector<std::string> names(const std::vector<Contingency>& list) {
    std::vector<std::string> out;
    for (const Contingency& c : list) {
        EXPECT_EQ(c.steps.size(), 1u);
        EXPECT_EQ(c.steps[0].value, 0.0);
        out.push_back(c.name + " -> " + std::to_string(c.steps[0].kind) + " " + c.steps[0].name);
    }
    return out;
}

TEST(N1List, KindsInOrderOnlyElementsInServiceNeverTheSlackGenerator) {
    const Network net = n1_network();
    const ContingencyAnalysis analysis;
    EXPECT_EQ(names(analysis.generate_n1(net, true, true, true)),
              (std::vector<std::string>{"BR: L1 -> 0 L1", "BR: L3 -> 0 L3", "GN: GA -> 1 GA",
                                        "SV: C1 -> 2 C1"}));
    EXPECT_EQ(names(analysis.generate_n1(net, false, true, false)),
              (std::vector<std::string>{"GN: GA -> 1 GA"}));
    EXPECT_TRUE(analysis.generate_n1(net, false, false, false).empty());
    EXPECT_TRUE(analysis.generate_n1(Network{}, true, true, true).empty());

    // Without a slack bus no generator is left out.
    Network no_slack = n1_network();
    no_slack.slack_bus = -1;
    EXPECT_EQ(names(analysis.generate_n1(no_slack, false, true, false)),
              (std::vector<std::string>{"GN: GS -> 1 GS", "GN: GA -> 1 GA"}));
}

}  // namespace
}  // namespace varnok
