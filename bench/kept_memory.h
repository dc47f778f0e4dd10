// The "kept" column of the benchmarks: the same measurement in a copy of the program that the
// C library's allocator runs with thresholds so high that it never unmaps a freed block nor
// trims the heap, so that nothing freed is faulted in again. The library itself asks nothing of
// the allocator; the column shows how close it comes to an allocator that keeps everything.
//
// The program starts the copy of itself with "--kept" as its first argument and the tunables
// in its environment (Linux with glibc), reads what the copy prints and shows it beside its
// own figures; the two alternate round by round, so that other load on the machine falls on
// both. Page faults are the minor faults of getrusage.
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace bench {

constexpr const char* kKeptTunables =
    "glibc.malloc.mmap_threshold=2000000000:glibc.malloc.trim_threshold=2000000000";

// Minor page faults of the process so far.
inline long minor_faults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// True for the copy, whose first argument "--kept" is then taken out of argv.
inline bool is_kept_copy(int& argc, char** argv) {
    if (argc < 2 || std::string(argv[1]) != "--kept") return false;
    for (int i = 1; i + 1 < argc; ++i) argv[i] = argv[i + 1];
    --argc;
    return true;
}

inline std::string shell_quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs this program again with "--kept" and `args` under the tunables; its standard output,
// empty when it could not run.
inline std::string run_kept_copy(const std::vector<std::string>& args) {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "";
    self[n] = '\0';
    std::string command = std::string("GLIBC_TUNABLES=") + kKeptTunables + " " +
                          shell_quoted(self) + " --kept";
    for (const std::string& a : args) command += " " + shell_quoted(a);
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return "";
    std::string out;
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
    pclose(pipe);
    return out;
}

// The numbers of the line of `text` that begins with `tag` and a blank; empty when none.
inline std::vector<double> tagged_numbers(const std::string& text, const std::string& tag) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.compare(0, tag.size() + 1, tag + " ") != 0) continue;
        std::istringstream fields(line.substr(tag.size() + 1));
        std::vector<double> numbers;
        double x;
        while (fields >> x) numbers.push_back(x);
        return numbers;
    }
    return {};
}

}  // namespace bench
