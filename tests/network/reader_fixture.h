// Helpers for the input-reader tests: input text written to a temporary file, loaded into a
// fresh network and settings, with the warnings captured.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "network/InputParser.h"

namespace varnok::reader_test {

// A file that removes itself; its name is unique to the running test.
class TempFile {
public:
    explicit TempFile(const std::string& bytes, const std::string& tag = "") {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("varnok_reader_") + (info ? info->test_suite_name() : "x") +
                           "_" + (info ? info->name() : "x") + tag + ".txt";
        for (char& c : name)
            if (c == '/') c = '_';
        path_ = (std::filesystem::temp_directory_path() / name).string();
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    ~TempFile() { std::remove(path_.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

struct Loaded {
    Network network;
    SolverParams params;
    std::string warnings;  // what the load wrote to standard error
};

// Loads `text`; a failure of the load propagates.
inline Loaded load_text(const std::string& text, const SolverParams& params = SolverParams{}) {
    TempFile file(text);
    Loaded loaded;
    loaded.params = params;
    ::testing::internal::CaptureStderr();
    try {
        InputParser().load(file.path(), loaded.network, loaded.params);
    } catch (...) {
        ::testing::internal::GetCapturedStderr();
        throw;
    }
    loaded.warnings = ::testing::internal::GetCapturedStderr();
    return loaded;
}

// The text of the exception that loading `text` raises ("" when it loads).
inline std::string load_error(const std::string& text, std::string* warnings = nullptr) {
    TempFile file(text);
    Network network;
    SolverParams params;
    ::testing::internal::CaptureStderr();
    std::string what;
    try {
        InputParser().load(file.path(), network, params);
    } catch (const std::exception& e) {
        what = e.what();
    }
    const std::string err = ::testing::internal::GetCapturedStderr();
    if (warnings) *warnings = err;
    return what;
}

inline std::vector<InputParser::Record> tokenize_text(const std::string& text,
                                                      std::vector<std::string>& comments) {
    TempFile file(text);
    return InputParser().tokenize(file.path(), comments);
}

}  // namespace varnok::reader_test
