// The network a benchmark takes when it is given none: the largest .txt of a directory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

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
