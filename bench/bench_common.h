// What the benchmarks share: the network they take when given none, and the median of timings.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

// The largest .txt of a directory.
inline std::string largest_case(const std::string& dir) {
    std::string best;
    std::uintmax_t best_size = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".txt" || !entry.is_regular_file()) continue;
        if (entry.file_size() > best_size) {
            best_size = entry.file_size();
            best = entry.path().string();
        }
    }
    if (best.empty()) throw std::runtime_error("no network file in " + dir);
    return best;
}

inline double median(std::vector<double> x) {
    std::sort(x.begin(), x.end());
    const std::size_t n = x.size();
    return n % 2 ? x[n / 2] : 0.5 * (x[n / 2 - 1] + x[n / 2]);
}
