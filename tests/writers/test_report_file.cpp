// The report file: open failures and write failures are reported, a good file is complete.
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include "writers/ReportFile.h"

namespace varnok {
namespace {

std::string thrown_text(void (*action)()) {
    try {
        action();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "nothing thrown";
}

TEST(ReportFile, WritesAndClosesAFile) {
    const std::string path = ::testing::TempDir() + "report_file_ok.txt";
    std::ofstream out = open_report(path, "W: cannot open file: ");
    out << "line\n";
    close_report(out, "W", path);
    std::ifstream in(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "line\n");
    std::remove(path.c_str());
}

TEST(ReportFile, OpenFailureNamesThePath) {
    EXPECT_EQ(thrown_text([] { open_report("/nonexistent-dir/r.txt", "W: cannot open file: "); }),
              "W: cannot open file: /nonexistent-dir/r.txt");
}

TEST(ReportFile, FullDiskIsAWriteFailure) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full on this system";
    EXPECT_EQ(thrown_text([] {
                  std::ofstream out = open_report("/dev/full", "W: cannot open file: ");
                  out << "line\n";
                  close_report(out, "W", "/dev/full");
              }),
              "W: cannot write file: /dev/full");
}

}  // namespace
}  // namespace varnok
