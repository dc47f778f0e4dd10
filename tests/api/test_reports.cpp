// The report exports: statuses and texts, and what they leave in the handle and the file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include <unistd.h>

#include "comma_locale.h"
#include "context_handle.h"
#include "varnok_api.h"
#include "writers/report_text.h"

namespace {

const std::string kData = std::string(VARNOK_TEST_DATA_DIR) + "/";

struct Report {
    const char* name;    // the export's name, which its own messages begin with
    const char* writer;  // the writer's name, which its failures begin with
    int (*write)(VarnokContext*, const char*);
};

const Report kReports[] = {
    {"varnok_write_dump", "DumpWriter", varnok_write_dump},
    {"varnok_write_voltrat", "VoltRatWriter", varnok_write_voltrat},
};

std::string temp_path(const Report& report, const std::string& tag) {
    return ::testing::TempDir() + "varnok_api_" + report.name + "_" + tag + ".txt";
}

// In text mode, as the library writes its reports: a Windows line end reads as "\n".
std::string read_text(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Loaded : api_test::ContextHandle {
    explicit Loaded(const std::string& file = "state/two_bus.txt") {
        EXPECT_EQ(varnok_load_file(ctx, (kData + file).c_str()), VARNOK_OK);
    }
};

TEST(Reports, ArgumentsAndLoadedStateAreTestedFirst) {
    for (const Report& r : kReports) {
        SCOPED_TRACE(r.name);
        const std::string path = temp_path(r, "guard");
        std::remove(path.c_str());
        EXPECT_EQ(r.write(nullptr, path.c_str()), VARNOK_ERR_NULL_ARG);

        api_test::ContextHandle fresh;
        EXPECT_EQ(r.write(fresh.ctx, path.c_str()), VARNOK_ERR_NOT_LOADED);
        EXPECT_EQ(fresh.error(), std::string(r.name) + ": no network loaded");
        EXPECT_FALSE(std::filesystem::exists(path));
        EXPECT_EQ(r.write(fresh.ctx, nullptr), VARNOK_ERR_NULL_ARG);
        EXPECT_EQ(fresh.error(), std::string(r.name) + ": NULL argument");

        Loaded loaded;
        EXPECT_EQ(r.write(loaded.ctx, nullptr), VARNOK_ERR_NULL_ARG);
        EXPECT_EQ(loaded.error(), std::string(r.name) + ": NULL argument");
    }
}

TEST(Reports, FailuresOfTheFileAreIoErrors) {
    for (const Report& r : kReports) {
        SCOPED_TRACE(r.name);
        Loaded h;
        const std::string unopenable = "/nonexistent-dir/report.txt";
        EXPECT_EQ(r.write(h.ctx, unopenable.c_str()), VARNOK_ERR_IO);
        EXPECT_EQ(h.error(), std::string(r.writer) + ": cannot open file: " + unopenable);
        if (access("/dev/full", W_OK) == 0) {
            EXPECT_EQ(r.write(h.ctx, "/dev/full"), VARNOK_ERR_IO);
            EXPECT_EQ(h.error(), std::string(r.writer) + ": cannot write file: /dev/full");
        }
        // a success leaves the failure's text
        const std::string path = temp_path(r, "after_failure");
        const std::string failure = h.error();
        EXPECT_EQ(r.write(h.ctx, path.c_str()), VARNOK_OK);
        EXPECT_EQ(h.error(), failure);
        std::remove(path.c_str());
    }
}

TEST(Reports, WritingTwiceGivesTheSameFile) {
    for (const Report& r : kReports) {
        SCOPED_TRACE(r.name);
        Loaded h;
        ASSERT_EQ(varnok_solve(h.ctx), VARNOK_OK);
        const std::string first = temp_path(r, "first");
        const std::string second = temp_path(r, "second");
        ASSERT_EQ(r.write(h.ctx, first.c_str()), VARNOK_OK);
        ASSERT_EQ(r.write(h.ctx, second.c_str()), VARNOK_OK);
        EXPECT_FALSE(read_text(first).empty());
        EXPECT_EQ(read_text(second), read_text(first));
        std::remove(first.c_str());
        std::remove(second.c_str());
    }
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// A report is a text file of the system: its lines end in CR LF on Windows and in LF elsewhere,
// every one of them, the last too.
TEST(Reports, LinesEndAsTheSystemEndsTextLines) {
#if defined(_WIN32)
    const std::string line_end = "\r\n";
#else
    const std::string line_end = "\n";
#endif
    for (const Report& r : kReports) {
        SCOPED_TRACE(r.name);
        Loaded h;
        const std::string path = temp_path(r, "line_ends");
        ASSERT_EQ(r.write(h.ctx, path.c_str()), VARNOK_OK);
        std::string bytes;
        {
            std::ifstream in(path, std::ios::binary);
            bytes.assign(std::istreambuf_iterator<char>(in), {});
        }
        std::remove(path.c_str());
        const std::size_t lines = occurrences(bytes, "\n");
        ASSERT_GT(lines, 1u);
        EXPECT_EQ(occurrences(bytes, line_end), lines);
        EXPECT_EQ(occurrences(bytes, "\r"), line_end == "\r\n" ? lines : 0u);
        EXPECT_EQ(bytes.substr(bytes.size() - line_end.size()), line_end);
    }
}

// The write-back happens before the file is opened: a failed dump has appended the "LFRESV"
// records already, and the next dump updates them.
TEST(Reports, DumpAfterAFailedDumpWritesEachLfresvOnce) {
    Loaded h;
    ASSERT_EQ(varnok_solve(h.ctx), VARNOK_OK);
    EXPECT_EQ(varnok_write_dump(h.ctx, "/nonexistent-dir/dump.txt"), VARNOK_ERR_IO);
    const std::string path = ::testing::TempDir() + "varnok_api_dump_after_failure.txt";
    ASSERT_EQ(varnok_write_dump(h.ctx, path.c_str()), VARNOK_OK);
    const std::string text = read_text(path);
    EXPECT_EQ(text.find("\nLFRESV A "), text.rfind("\nLFRESV A "));
    EXPECT_EQ(text.find("\nLFRESV B "), text.rfind("\nLFRESV B "));
    EXPECT_NE(text.find("\nLFRESV B "), std::string::npos);
    std::remove(path.c_str());
}

// A compensator that was producing in voltage control and is then tripped is dumped as one
// out of service: read back and dumped again, the file keeps every byte.
TEST(Reports, DumpOfATrippedCompensatorReadsBackToTheSameFile) {
    Loaded h("writers/regulated.txt");
    ASSERT_EQ(varnok_solve(h.ctx), VARNOK_OK);
    double q_mvar[1] = {0.0};
    int status[1] = {0};
    ASSERT_EQ(varnok_get_svc_count(h.ctx), 1);
    ASSERT_EQ(varnok_copy_svc_outputs(h.ctx, q_mvar, status, 1), VARNOK_OK);
    ASSERT_GT(std::abs(q_mvar[0]), 0.1);  // Mvar
    ASSERT_EQ(varnok_trip_svc(h.ctx, "SC"), VARNOK_OK);
    ASSERT_EQ(varnok_apply_changes(h.ctx), VARNOK_OK);

    const std::string first = ::testing::TempDir() + "varnok_api_dump_tripped_svc_first.txt";
    const std::string second = ::testing::TempDir() + "varnok_api_dump_tripped_svc_second.txt";
    ASSERT_EQ(varnok_write_dump(h.ctx, first.c_str()), VARNOK_OK);
    EXPECT_NE(read_text(first).find("\nSVC SC C225 C225 0. 0 1 150 -100 20 0 ;\n"),
              std::string::npos);

    api_test::ContextHandle again;
    ASSERT_EQ(varnok_load_file(again.ctx, first.c_str()), VARNOK_OK);
    ASSERT_EQ(varnok_write_dump(again.ctx, second.c_str()), VARNOK_OK);
    EXPECT_EQ(read_text(second), read_text(first));
    std::remove(first.c_str());
    std::remove(second.c_str());
}

TEST(Reports, WrittenAfterASolveThatDidNotConverge) {
    for (const Report& r : kReports) {
        SCOPED_TRACE(r.name);
        Loaded h("solver/overload.txt");
        ASSERT_EQ(varnok_solve(h.ctx), VARNOK_NOT_CONVERGED);
        const std::string path = temp_path(r, "not_converged");
        EXPECT_EQ(r.write(h.ctx, path.c_str()), VARNOK_OK);
        EXPECT_NE(read_text(path).find("LFRESV B1 "), std::string::npos);
        std::remove(path.c_str());
    }
}

// A host's comma-decimal locale changes no byte of a report.
TEST(Reports, HostLocaleChangesNothing) {
    for (const Report& r : kReports) {
        SCOPED_TRACE(r.name);
        const auto written = [&r](const std::string& tag) {
            Loaded h("writers/controls.txt");
            EXPECT_EQ(varnok_solve(h.ctx), VARNOK_OK);
            const std::string path = temp_path(r, tag);
            EXPECT_EQ(r.write(h.ctx, path.c_str()), VARNOK_OK);
            std::string text = read_text(path);
            std::remove(path.c_str());
            return text;
        };
        const std::string c_locale = written("c_locale");
        EXPECT_NE(c_locale.find('.'), std::string::npos);
        test_support::CommaLocale host;
        if (!host.active()) GTEST_SKIP() << test_support::CommaLocale::skip_reason();
        EXPECT_EQ(written("comma_locale"), c_locale);
    }
}

// The written-back state can hold a number below the smallest normal double (after a solve that
// does not converge, or a change of a few 1e-310 MW), which the reader refuses as out of range
// ("stod"). The dump writes such a value as 0, so that every dump loads again and, loaded,
// dumps to the same bytes.
TEST(Reports, DumpOfValuesBelowTheSmallestNormalNumberLoadsAgain) {
    constexpr double kSubnormal = 4.94065645841246544e-324;  // the least positive double
    const struct {
        const char* what;
        std::function<int(VarnokContext*)> change;
        const char* written;  // the record as dumped
    } cases[] = {
        {"an active load", [](VarnokContext* c) { return varnok_change_load(c, "A", 1e-310, 0); },
         "\nBUS A 400 0 0 0 ;\n"},
        {"a reactive load, negative",
         [](VarnokContext* c) { return varnok_change_load(c, "A", 0, -kSubnormal); },
         "\nBUS A 400 0 0 0 ;\n"},
        {"a shunt", [](VarnokContext* c) { return varnok_change_shunt(c, "A", 2e-308); },
         "\nBUS A 400 0 0 0 ;\n"},
        {"a normal number stays",
         [](VarnokContext* c) { return varnok_change_load(c, "A", 2.3e-308, 0); },
         "\nBUS A 400 2.3e-308 0 0 ;\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Loaded h;
        ASSERT_EQ(c.change(h.ctx), VARNOK_OK) << h.error();
        const std::string first = varnok::report_test::report_path("first.txt");
        const std::string second = varnok::report_test::report_path("second.txt");
        ASSERT_EQ(varnok_write_dump(h.ctx, first.c_str()), VARNOK_OK);
        const std::string text = varnok::report_test::read_text(first);
        EXPECT_NE(text.find(c.written), std::string::npos) << text;

        api_test::ContextHandle again;
        EXPECT_EQ(varnok_load_file(again.ctx, first.c_str()), VARNOK_OK) << again.error();
        ASSERT_EQ(varnok_write_dump(again.ctx, second.c_str()), VARNOK_OK);
        EXPECT_EQ(varnok::report_test::read_text(second), text);
        std::remove(first.c_str());
        std::remove(second.c_str());
    }
}

}  // namespace
