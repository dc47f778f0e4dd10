// The diagram renderer: one template line per placeholder case with the line it must become,
// the lines it must copy unchanged, and the files it must refuse.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "powerflow/network_builders.h"
#include "writers/DiagramRenderer.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;

// In text mode, as the library writes its reports: a Windows line end reads as "\n".
std::string read_file(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// A device the renderer must not read: one that reads without end where there is one.
#if defined(_WIN32)
const char* const kDevice = "NUL";
#else
const char* const kDevice = "/dev/zero";
#endif

// Makes `link` a symbolic link to `target`; false where the system's C++ library makes none
// (mingw's std::filesystem on Windows), so that the test can skip.
bool make_symlink(const fs::path& target, const fs::path& link) {
    std::error_code ec;
    if (fs::is_directory(target))
        fs::create_directory_symlink(target, link, ec);
    else
        fs::create_symlink(target, link, ec);
    if (ec == std::errc::function_not_supported || ec == std::errc::operation_not_supported)
        return false;
    if (ec) throw fs::filesystem_error("cannot make a symbolic link", target, link, ec);
    return true;
}

const char* const kNoSymlinks = "this system's C++ library makes no symbolic links";

// A scratch directory of the running test, removed with it.
class DiagramFiles : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() / (std::string("varnok_diagram_") + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    std::string render_error(const Network& net, const std::string& template_path,
                             const std::string& output_path) const {
        try {
            DiagramRenderer().render(net, SolverParams{}, template_path, output_path);
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "nothing thrown";
    }

private:
    fs::path dir_;
};

Branch rated(Branch br, double rating, int status = 1) {
    br.rating = rating;
    br.status = status;
    return br;
}

// N1 (1 pu, 0 rad) feeds N2 (1 pu, -0.1 rad) through the lossless line L of x = 0.1, which
// carries 99.8 MW and 5.0 Mvar into each end, 80 % of its 1.25 pu rating, and through "L,2" of
// x = 0.2 (49.9 MW, 2.5 Mvar), whose name holds a comma; N3 shows voltage formatting and holds a
// shunt below 1 pu; two dead buses at 0 V; N4 stands at N1's voltage, so that a branch between
// them carries only the charging of the end that has it: 0.5 pu at that end, none at the other;
// units in, out (0) and out (-1) of service.
Network letters_network() {
    Network net;
    add_plain_bus(net, "N1", PQ);
    net.buses[0].b_shunt = 0.3;
    net.buses[0].q_shunt = 0.05;
    add_plain_bus(net, "N2", PQ, 0.8, 0.2);
    net.buses[1].angle = -0.1;
    add_plain_bus(net, "N3", PQ);
    net.buses[2].v = 0.98765432;
    net.buses[2].vnom_kv = 225.0;
    net.buses[2].angle = 0.5;
    net.buses[2].b_shunt = 0.2;
    net.buses[2].q_shunt = 0.1;
    for (const char* dead : {"DEAD1", "DEAD2"}) {
        add_plain_bus(net, dead, ISOLATED);
        net.buses.back().v = 0.0;
    }

    net.add_branch(rated(reactance("L", 0, 1, 0.1), 1.25));
    net.add_branch(rated(reactance("OPEN", 0, 1, 0.1), 1.25, 0));
    net.add_branch(rated(reactance("NO-RATING", 0, 1, 0.1), 0.0));
    net.add_branch(rated(reactance("DEAD-LINE", 3, 4, 0.1), 1.0));
    net.add_branch(rated(reactance("TAPPED", 0, 2, 0.1), 1.0));
    net.add_branch(rated(reactance("TWICE", 0, 2, 0.1), 1.0));
    // "J" shows the first tap changer of a branch; those of no branch are passed over
    add_plain_bus(net, "N4", PQ);
    net.add_branch(rated(reactance("L,2", 0, 1, 0.2), 1.0));
    Branch charged_to = rated(reactance("CHARGED-TO", 0, 5, 0.1), 0.625);
    charged_to.b_shunt_to = 0.5;
    net.add_branch(charged_to);
    Branch charged_from = rated(reactance("CHARGED-FROM", 0, 5, 0.1), 1.0);
    charged_from.b_shunt_from = 0.5;
    net.add_branch(charged_from);
    for (const auto& [branch, pos] : {std::pair{4, 0}, {-1, 9}, {99, 9}, {5, 3}, {4, 7}, {5, 5}}) {
        TapRegulator tap;
        tap.branch = branch;
        tap.pos = pos;
        net.tap_regulators.push_back(tap);
    }

    add_unit(net, "G1", 0, GEN_PQ, 1.5, 0.0);
    net.generators.back().q = 0.3;
    for (int status : {0, -1}) {
        add_unit(net, "G" + std::to_string(status), 2, GEN_PQ, 0.5, 0.0);
        net.generators.back().q = 0.1;
        net.generators.back().status = status;
    }
    for (int status : {1, 0}) {
        SVC svc;
        svc.name = "S" + std::to_string(status);
        svc.bus = svc.sense_bus = 1;
        svc.q = 0.25;
        svc.status = status;
        net.add_svc(svc);
    }
    return net;
}

struct Case {
    const char* line;      // in the template
    const char* expected;  // in the output
};

const std::vector<Case> kCases = {
    // every letter
    {"<text>%AN3</text>", "<text>0.98765</text>"},
    {"<text>%BN3</text>", "<text>222.2</text>"},
    {"<text>%CN3</text>", "<text>28.65</text>"},
    {"<text>%DL,N1</text>", "<text>99.8</text>"},
    {"<text>%DL,N2</text>", "<text>-99.8</text>"},
    {"<text>%D L,\t N2</text>", "<text>-99.8</text>"},
    {"<text>%DL,N3</text>", "<text>-99.8</text>"},  // not the from bus: the to end
    {"<text>%DOPEN,N1</text>", "<text>0.0</text>"},
    {"<text>%DL</text>", "<text>unknown</text>"},
    {"<text>%DL,NOBUS</text>", "<text>unknown</text>"},
    {"<text>%DNOLINE,N1</text>", "<text>unknown</text>"},
    {"<text>%EL,N1</text>", "<text>5.0</text>"},
    {"<text>%EL,N2</text>", "<text>5.0</text>"},
    {"<text>%EOPEN,N2</text>", "<text>0.0</text>"},
    {"<text>%DL,2,N1</text>", "<text>49.9</text>"},  // branch and bus split at the last comma
    {"<text>%DL,2,N2</text>", "<text>-49.9</text>"},
    {"<text>%EL,2,N2</text>", "<text>2.5</text>"},
    {"<text>%DL,2</text>", "<text>unknown</text>"},  // branch L, bus 2
    {"<text>%FL</text>", "<text>0.80</text>"},
    {"<text>%FCHARGED-TO</text>", "<text>0.80</text>"},  // the larger end of two that differ
    {"<text>%FCHARGED-FROM</text>", "<text>0.50</text>"},
    {"<text>%FNO-RATING</text>", "<text>0.00</text>"},
    {"<text>%FDEAD-LINE</text>", "<text>0.00</text>"},  // both ends at 0 V
    {"<text>%GG1</text>", "<text>150.0</text>"},
    {"<text>%GG0</text>", "<text>0.0</text>"},
    {"<text>%GG-1</text>", "<text>50.0</text>"},
    {"<text>%HN1</text>", "<text>35.0</text>"},
    {"<text>%HN3</text>", "<text>29.5</text>"},  // b_shunt V^2 + q_shunt: 0.2 V^2 + 0.1 pu
    {"<text>%JTAPPED</text>", "<text>0</text>"},
    {"<text>%JTWICE</text>", "<text>3</text>"},
    {"<text>%JL</text>", "<text>unknown</text>"},
    {"<text>%JNOLINE</text>", "<text>unknown</text>"},
    {"<text>%KG1</text>", "<text>30.0</text>"},
    {"<text>%KG0</text>", "<text>0.0</text>"},
    {"<text>%KG-1</text>", "<text>10.0</text>"},
    {"<text>%LS1</text>", "<text>25.0</text>"},
    {"<text>%LS0</text>", "<text>0.0</text>"},
    {"<text>%RN2</text>", "<text>80.0</text>"},
    {"<text>%SN2</text>", "<text>20.0</text>"},
    {"<text>%TL</text>", "<text></text>"},
    {"<text>%TOPEN</text>", "<text>X</text>"},
    {"<text>%UG1</text>", "<text></text>"},
    {"<text>%UG0</text>", "<text>X</text>"},
    {"<text>%UG-1</text>", "<text>X</text>"},
    // letters and arguments without a value
    {"<text>%IN1</text>", "<text>unknown</text>"},
    {"<text>%MN1</text>", "<text>unknown</text>"},
    {"<text>%NN1</text>", "<text>unknown</text>"},
    {"<text>%ON1</text>", "<text>unknown</text>"},
    {"<text>%PN1</text>", "<text>unknown</text>"},
    {"<text>%QN1</text>", "<text>unknown</text>"},
    {"<text>%VN1</text>", "<text>unknown</text>"},
    {"<text>%aN1</text>", "<text>unknown</text>"},
    {"<text>%ANOBUS</text>", "<text>unknown</text>"},
    {"<text>%GN1</text>", "<text>unknown</text>"},  // a bus is no generator
    {"<text>%AN1 </text>", "<text>unknown</text>"},  // the trailing blank is part of the name
    {"<text>%A \tN1</text>", "<text>1.00000</text>"},
    {"<text>%A</text>", "<text>unknown</text>"},
    {"<text>%A \t</text>", "<text>unknown</text>"},
    // where the placeholder stands
    {"<text>plain</text>", "<text>plain</text>"},
    {"%AN1 without a tag", "%AN1 without a tag"},
    {"<text>%AN1</text> 50%", "<text>%AN1</text> 50%"},
    {"<tspan>%AN1</tspan><tspan>%AN3</tspan>", "<tspan>%AN1</tspan><tspan>0.98765</tspan>"},
    {"<text><tspan>%AN3</tspan> kV</text>", "<text><tspan>0.98765</tspan> kV</text>"},
    {"<text>a</text><tspan>%AN3</tspan>", "<text>a</text><tspan>0.98765</tspan>"},
    {"", ""},
};

TEST_F(DiagramFiles, FillsEveryPlaceholderCase) {
    std::string tmpl, expected;
    for (const Case& c : kCases) {
        tmpl += std::string(c.line) + "\n";
        expected += std::string(c.expected) + "\n";
    }
    write_file(path("t.svg"), tmpl);
    DiagramRenderer().render(letters_network(), SolverParams{}, path("t.svg"), path("out.svg"));
    EXPECT_EQ(read_file(path("out.svg")), expected);
}

TEST_F(DiagramFiles, BasePowerScalesOnlyPowers) {
    write_file(path("t.svg"), "<text>%DL,N1</text>\n<text>%AN3</text>\n<text>%FL</text>\n"
                              "<text>%JTAPPED</text>\n<text>%CN3</text>");  // no newline at the end
    SolverParams params;
    params.sbase = 50.0;
    DiagramRenderer().render(letters_network(), params, path("t.svg"), path("out.svg"));
    EXPECT_EQ(read_file(path("out.svg")),
              "<text>49.9</text>\n<text>0.98765</text>\n<text>0.80</text>\n<text>0</text>\n"
              "<text>28.65</text>\n");
}

TEST_F(DiagramFiles, EmptyTemplateGivesEmptyOutput) {
    write_file(path("t.svg"), "");
    DiagramRenderer().render(Network{}, SolverParams{}, path("t.svg"), path("out.svg"));
    EXPECT_TRUE(fs::exists(path("out.svg")));
    EXPECT_EQ(read_file(path("out.svg")), "");
}

TEST_F(DiagramFiles, UnreadableTemplateLeavesNoOutput) {
    fs::create_directory(path("dir.svg"));
    for (const std::string& tmpl : {path("missing.svg"), path("dir.svg")}) {
        EXPECT_EQ(render_error(Network{}, tmpl, path("out.svg")),
                  "DiagramRenderer: cannot open template: " + tmpl);
        EXPECT_FALSE(fs::exists(path("out.svg")));
    }
}

#if !defined(_WIN32)  // Windows keeps its named pipes apart from the file system: no FIFO there
// Plays the writer of a FIFO for the length of a test: it offers one template line, so that a
// render that opened the FIFO would read it and end instead of waiting for a writer for ever.
// Its own end opens once some reader has the FIFO open; on leaving, the test opens a reader that
// does not wait, so that the writer is released when no render opened the FIFO either.
class FifoWriter {
public:
    explicit FifoWriter(std::string path)
        : path_(std::move(path)), writer_([this] {
              const int fd = ::open(path_.c_str(), O_WRONLY);
              if (fd < 0) return;
              const char line[] = "<text>%AN1</text>\n";
              [[maybe_unused]] const ssize_t written = ::write(fd, line, sizeof line - 1);
              ::close(fd);
          }) {}
    ~FifoWriter() {
        const int reader = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK);
        writer_.join();
        if (reader >= 0) ::close(reader);
    }
    FifoWriter(const FifoWriter&) = delete;
    FifoWriter& operator=(const FifoWriter&) = delete;

private:
    std::string path_;
    std::thread writer_;
};
#endif

// Neither a device that reads without end, nor a directory, nor a FIFO, whether named directly or
// through a link: each is refused before the output is opened, so an earlier output keeps its
// bytes. A link to a regular template is followed and rendered.
TEST_F(DiagramFiles, TemplateThatIsNoRegularFileLeavesTheOutputAlone) {
    const std::string out = path("out.svg"), earlier = "<text>earlier</text>\n";
    fs::create_directory(path("dir"));
    for (const std::string& tmpl : {std::string(kDevice), path("dir")}) {
        write_file(out, earlier);
        EXPECT_EQ(render_error(letters_network(), tmpl, out),
                  "DiagramRenderer: cannot open template: " + tmpl);
        EXPECT_EQ(read_file(out), earlier) << tmpl;
    }
}

TEST_F(DiagramFiles, TemplateLinkIsFollowedOnlyToARegularFile) {
    const std::string out = path("out.svg"), earlier = "<text>earlier</text>\n";
    fs::create_directory(path("dir"));
    if (!make_symlink(path("dir"), path("dir-link"))) GTEST_SKIP() << kNoSymlinks;
    ASSERT_TRUE(make_symlink(kDevice, path("device-link")));
    for (const std::string& tmpl : {path("device-link"), path("dir-link")}) {
        write_file(out, earlier);
        EXPECT_EQ(render_error(letters_network(), tmpl, out),
                  "DiagramRenderer: cannot open template: " + tmpl);
        EXPECT_EQ(read_file(out), earlier) << tmpl;
    }

    write_file(path("t.svg"), "<text>%AN3</text>\n");
    ASSERT_TRUE(make_symlink(path("t.svg"), path("t-link.svg")));
    DiagramRenderer().render(letters_network(), SolverParams{}, path("t-link.svg"), out);
    EXPECT_EQ(read_file(out), "<text>0.98765</text>\n");
}

TEST_F(DiagramFiles, FifoTemplateIsRefusedWithoutWaitingForAWriter) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no FIFO in its file system";
#else
    const std::string fifo = path("t.fifo"), out = path("out.svg");
    if (::mkfifo(fifo.c_str(), 0600) != 0) GTEST_SKIP() << "no FIFO in " << fifo;
    fs::create_symlink(fifo, path("fifo-link"));
    for (const std::string& tmpl : {fifo, path("fifo-link")}) {
        write_file(out, "<text>earlier</text>\n");
        const FifoWriter writer(fifo);
        EXPECT_EQ(render_error(letters_network(), tmpl, out),
                  "DiagramRenderer: cannot open template: " + tmpl);
        EXPECT_EQ(read_file(out), "<text>earlier</text>\n") << tmpl;
    }
#endif
}

TEST_F(DiagramFiles, OutputThatIsTheTemplateIsRefused) {
    const std::string tmpl = path("t.svg");
    write_file(tmpl, "<text>%AN1</text>\n");
    fs::create_hard_link(tmpl, path("hard.svg"));
    for (const std::string& out : {tmpl, path("hard.svg"), path(".") + "/t.svg"}) {
        EXPECT_EQ(render_error(letters_network(), tmpl, out),
                  "DiagramRenderer: output is the template: " + out);
        EXPECT_EQ(read_file(tmpl), "<text>%AN1</text>\n");
    }
}

TEST_F(DiagramFiles, OutputThatLinksToTheTemplateIsRefused) {
    const std::string tmpl = path("t.svg"), out = path("link.svg");
    write_file(tmpl, "<text>%AN1</text>\n");
    if (!make_symlink(tmpl, out)) GTEST_SKIP() << kNoSymlinks;
    EXPECT_EQ(render_error(letters_network(), tmpl, out),
              "DiagramRenderer: output is the template: " + out);
    EXPECT_EQ(read_file(tmpl), "<text>%AN1</text>\n");
}

TEST_F(DiagramFiles, OutputFailures) {
    write_file(path("t.svg"), "<text>%AN1</text>\n");
    EXPECT_EQ(render_error(letters_network(), path("t.svg"), path("no-dir/out.svg")),
              "DiagramRenderer: cannot open output: " + path("no-dir/out.svg"));
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full on this system";
    EXPECT_EQ(render_error(letters_network(), path("t.svg"), "/dev/full"),
              "DiagramRenderer: cannot write file: /dev/full");
}

}  // namespace
}  // namespace varnok
