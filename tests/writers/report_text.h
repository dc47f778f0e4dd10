// Report files of the writer tests: a path unique to the running test, and the bytes written.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace varnok::report_test {

// A path in the temporary directory named after the running test and `tag`.
inline std::string report_path(const std::string& tag) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("varnok_report_") + info->test_suite_name() + "_" +
                       info->name() + "_" + tag;
    for (char& c : name)
        if (c == '/') c = '_';
    return (std::filesystem::path(::testing::TempDir()) / name).string();
}

// In text mode, as the library writes its reports: a Windows line end reads as "\n".
inline std::string read_text(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void write_text(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

}  // namespace varnok::report_test
