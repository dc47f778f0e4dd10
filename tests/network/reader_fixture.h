// Helpers for the input-reader tests: input text written to a temporary file, loaded into a
// fresh network and settings, with the warnings captured; records built by hand and the refusal
// a record handler raises.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
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

// Loads the file at `path`; a failure of the load propagates.
inline Loaded load_file(const std::string& path, const SolverParams& params = SolverParams{}) {
    Loaded loaded;
    loaded.params = params;
    ::testing::internal::CaptureStderr();
    try {
        InputParser().load(path, loaded.network, loaded.params);
    } catch (...) {
        ::testing::internal::GetCapturedStderr();
        throw;
    }
    loaded.warnings = ::testing::internal::GetCapturedStderr();
    return loaded;
}

// Loads `text`; a failure of the load propagates.
inline Loaded load_text(const std::string& text, const SolverParams& params = SolverParams{}) {
    TempFile file(text);
    return load_file(file.path(), params);
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

using Record = InputParser::Record;
using Fields = std::vector<std::string>;

// A record as the tokenizer hands it to a handler.
inline Record rec(const std::string& keyword, Fields fields) {
    return Record{keyword, std::move(fields)};
}

// The runtime_error text a handler call raises, "" when it returns.
inline std::string refusal(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}

}  // namespace varnok::reader_test
