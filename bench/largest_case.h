// The benchmarks' default network: the largest input file of the reference directory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace bench {

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

}  // namespace bench
