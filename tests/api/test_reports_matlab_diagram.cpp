// varnok_write_matlab and varnok_write_diagram through the public header: argument order, the
// statuses and texts of every failure, and that a success keeps the last error.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "api/varnok_api.h"
#include "context_handle.h"

namespace {

namespace fs = std::filesystem;
using Handle = api_test::ContextHandle;

const char* const kTemplate = "<text>%AN1</text>\n<text>%DL12,N2</text>\n";

// In text mode, as the library writes its reports: a Windows line end reads as "\n".
std::string read_file(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class ReportExports : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() / (std::string("varnok_reports_") + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        std::ofstream(path("t.svg")) << kTemplate;
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    // A handle with a small network loaded and solved.
    static void load(Handle& h) {
        const std::string network = std::string(VARNOK_TEST_DATA_DIR) + "/queries/network.txt";
        ASSERT_EQ(varnok_load_file(h.ctx, network.c_str()), VARNOK_OK);
        ASSERT_EQ(varnok_solve(h.ctx), VARNOK_OK);
    }

private:
    fs::path dir_;
};

TEST_F(ReportExports, ArgumentsAreTestedInOrder) {
    const std::string out = path("out");
    const std::string tmpl = path("t.svg");
    EXPECT_EQ(varnok_write_matlab(nullptr, out.c_str()), VARNOK_ERR_NULL_ARG);
    EXPECT_EQ(varnok_write_diagram(nullptr, tmpl.c_str(), out.c_str()), VARNOK_ERR_NULL_ARG);

    Handle h;
    EXPECT_EQ(varnok_write_matlab(h.ctx, nullptr), VARNOK_ERR_NULL_ARG);
    EXPECT_EQ(h.error(), "varnok_write_matlab: NULL argument");
    EXPECT_EQ(varnok_write_diagram(h.ctx, nullptr, out.c_str()), VARNOK_ERR_NULL_ARG);
    EXPECT_EQ(h.error(), "varnok_write_diagram: NULL argument");

    // before a load: -7 whatever the output path, and no file
    EXPECT_EQ(varnok_write_matlab(h.ctx, out.c_str()), VARNOK_ERR_NOT_LOADED);
    EXPECT_EQ(h.error(), "varnok_write_matlab: no network loaded");
    for (const char* output : {out.c_str(), static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(varnok_write_diagram(h.ctx, tmpl.c_str(), output), VARNOK_ERR_NOT_LOADED);
        EXPECT_EQ(h.error(), "varnok_write_diagram: no network loaded");
    }
    EXPECT_FALSE(fs::exists(out));

    load(h);
    EXPECT_EQ(varnok_write_diagram(h.ctx, tmpl.c_str(), nullptr), VARNOK_ERR_NULL_ARG);
    EXPECT_EQ(h.error(), "varnok_write_diagram: NULL output path");
    EXPECT_EQ(varnok_write_diagram(h.ctx, nullptr, nullptr), VARNOK_ERR_NULL_ARG);
    EXPECT_EQ(h.error(), "varnok_write_diagram: NULL argument");
}

TEST_F(ReportExports, FileFailuresGiveIoErrorWithTheWritersText) {
    Handle h;
    load(h);
    const std::string tmpl = path("t.svg"), out = path("out.svg"), bad = path("no-dir/out");
    const std::string missing = path("none.svg"), dir = path("");
    struct Failure {
        std::function<int()> call;
        std::string text;
    };
    const std::vector<Failure> failures = {
        {[&] { return varnok_write_matlab(h.ctx, bad.c_str()); },
         "MatlabExporter: cannot open file: " + bad},
        {[&] { return varnok_write_diagram(h.ctx, missing.c_str(), out.c_str()); },
         "DiagramRenderer: cannot open template: " + missing},
        {[&] { return varnok_write_diagram(h.ctx, dir.c_str(), out.c_str()); },
         "DiagramRenderer: cannot open template: " + dir},
        {[&] { return varnok_write_diagram(h.ctx, "/dev/zero", out.c_str()); },
         "DiagramRenderer: cannot open template: /dev/zero"},
        {[&] { return varnok_write_diagram(h.ctx, tmpl.c_str(), bad.c_str()); },
         "DiagramRenderer: cannot open output: " + bad},
        {[&] { return varnok_write_diagram(h.ctx, tmpl.c_str(), tmpl.c_str()); },
         "DiagramRenderer: output is the template: " + tmpl},
    };
    for (const Failure& f : failures) {
        EXPECT_EQ(f.call(), VARNOK_ERR_IO);
        EXPECT_EQ(h.error(), f.text);
    }
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(read_file(tmpl), kTemplate);

    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full on this system";
    EXPECT_EQ(varnok_write_matlab(h.ctx, "/dev/full"), VARNOK_ERR_IO);
    EXPECT_EQ(h.error(), "MatlabExporter: cannot write file: /dev/full");
    EXPECT_EQ(varnok_write_diagram(h.ctx, tmpl.c_str(), "/dev/full"), VARNOK_ERR_IO);
    EXPECT_EQ(h.error(), "DiagramRenderer: cannot write file: /dev/full");
}

TEST_F(ReportExports, SuccessKeepsTheLastErrorAndRepeatsTheFile) {
    Handle h;
    load(h);
    EXPECT_EQ(varnok_write_matlab(h.ctx, path("no-dir/y.m").c_str()), VARNOK_ERR_IO);
    const std::string failure = h.error();

    EXPECT_EQ(varnok_write_matlab(h.ctx, path("y1.m").c_str()), VARNOK_OK);
    EXPECT_EQ(varnok_write_matlab(h.ctx, path("y2.m").c_str()), VARNOK_OK);
    EXPECT_EQ(varnok_write_diagram(h.ctx, path("t.svg").c_str(), path("d1.svg").c_str()),
              VARNOK_OK);
    EXPECT_EQ(varnok_write_diagram(h.ctx, path("t.svg").c_str(), path("d2.svg").c_str()),
              VARNOK_OK);
    EXPECT_EQ(h.error(), failure);

    EXPECT_EQ(read_file(path("y1.m")), read_file(path("y2.m")));
    EXPECT_NE(read_file(path("y1.m")).find("opt(    1).name= 'N1      '  ;\n"), std::string::npos);
    EXPECT_EQ(read_file(path("d1.svg")), read_file(path("d2.svg")));
    EXPECT_EQ(read_file(path("d1.svg")).rfind("<text>1.05000</text>\n", 0), 0u);
}

}  // namespace
