// The examples of the user's guide to the input files (docs/input-format.md), taken from the
// document itself: the example network loads without a warning and solves, its contingency file
// runs without a report with every contingency converged, and its diagram template resolves
// every placeholder. A change to the document that breaks an example fails here.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "api/varnok_api.h"
#include "context_handle.h"

namespace {

namespace fs = std::filesystem;
using Handle = api_test::ContextHandle;

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The bodies of the fenced blocks of `markdown` whose opening fence reads "```<info>".
std::vector<std::string> fenced_blocks(const std::string& markdown, const std::string& info) {
    std::vector<std::string> blocks;
    std::string body;
    bool inside = false;
    for (const std::string& line : lines_of(markdown)) {
        if (!inside) {
            inside = line == "```" + info;
            body.clear();
        } else if (line == "```") {
            blocks.push_back(body);
            inside = false;
        } else {
            body += line + "\n";
        }
    }
    return blocks;
}

std::size_t count_lines_equal(const std::string& text, const std::string& wanted) {
    std::size_t count = 0;
    for (const std::string& line : lines_of(text))
        if (line == wanted) ++count;
    return count;
}

class InputFormatDocument : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string doc = read_file(VARNOK_INPUT_FORMAT_DOC);
        ASSERT_FALSE(doc.empty()) << "cannot read " << VARNOK_INPUT_FORMAT_DOC;
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               ("varnok_doc_" + std::string(info->name()) + "_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        network_ = example(doc, "varnok-network", "network.txt");
        contingencies_ = example(doc, "varnok-contingency", "list.ctg");
        diagram_template_ = example(doc, "varnok-diagram", "diagram.svg");
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    // The one example block of kind `info`, written to `name`; its path.
    std::string example(const std::string& doc, const std::string& info, const std::string& name) {
        const std::vector<std::string> blocks = fenced_blocks(doc, info);
        EXPECT_EQ(blocks.size(), 1u) << "blocks ```" << info;
        if (blocks.empty()) return path(name);
        std::ofstream(path(name), std::ios::binary) << blocks.front();
        return path(name);
    }

    // The example network loaded and solved, without a word on the standard error stream.
    static void load_and_solve(Handle& h, const std::string& network) {
        ::testing::internal::CaptureStderr();
        const int loaded = varnok_load_file(h.ctx, network.c_str());
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
        ASSERT_EQ(loaded, VARNOK_OK) << h.error();
        ASSERT_EQ(varnok_solve(h.ctx), VARNOK_OK) << "the example network does not converge";
    }

    fs::path dir_;
    std::string network_, contingencies_, diagram_template_;
};

TEST_F(InputFormatDocument, ExampleNetworkLoadsAndSolvesAsDescribed) {
    Handle h;
    load_and_solve(h, network_);
    EXPECT_EQ(varnok_get_bus_count(h.ctx), 5);
    EXPECT_EQ(varnok_get_branch_count(h.ctx), 6);
    EXPECT_EQ(varnok_get_generator_count(h.ctx), 2);
    EXPECT_EQ(varnok_get_svc_count(h.ctx), 1);
    EXPECT_EQ(varnok_get_zone_count(h.ctx), 1);
    EXPECT_EQ(varnok_get_cut_count(h.ctx), 1);

    // the text says that the tap changer holds TOWN150 within 1.02 +- 0.005 pu
    double v = 0.0, angle = 0.0;
    ASSERT_EQ(varnok_get_bus_voltage(h.ctx, "TOWN150", &v, &angle), VARNOK_OK);
    EXPECT_GE(v, 1.015);
    EXPECT_LE(v, 1.025);
}

TEST_F(InputFormatDocument, ExampleContingenciesRunWithoutReportAndConverge) {
    Handle h;
    load_and_solve(h, network_);
    varnok_clear_last_error(h.ctx);
    const int count =
        varnok_run_contingencies_file(h.ctx, contingencies_.c_str(), 0.9, 1.1, 120.0, 0.1);
    // one contingency per terminator in the example, which closes each one
    const std::size_t expected = count_lines_equal(read_file(contingencies_), "end_contingency");
    ASSERT_GT(expected, 0u);
    ASSERT_EQ(count, static_cast<int>(expected)) << h.error();
    EXPECT_EQ(h.error(), "") << "unknown names or actions in the example";
    for (int i = 0; i < count; ++i) {
        int converged = 0;
        ASSERT_EQ(varnok_get_contingency_result(h.ctx, i, &converged, nullptr, nullptr, nullptr,
                                                nullptr),
                  VARNOK_OK);
        EXPECT_EQ(converged, 1) << "contingency " << i;
    }
}

TEST_F(InputFormatDocument, ExampleDiagramResolvesEveryPlaceholder) {
    Handle h;
    load_and_solve(h, network_);
    const std::string output = path("filled.svg");
    ASSERT_EQ(varnok_write_diagram(h.ctx, diagram_template_.c_str(), output.c_str()), VARNOK_OK)
        << h.error();
    const std::string filled = read_file(output);
    const std::string blank = read_file(diagram_template_);
    EXPECT_EQ(lines_of(filled).size(), lines_of(blank).size());
    EXPECT_NE(blank.find('%'), std::string::npos) << "the example template has no placeholder";
    EXPECT_EQ(filled.find('%'), std::string::npos) << filled;
    EXPECT_EQ(filled.find("unknown"), std::string::npos) << filled;
}

}  // namespace
