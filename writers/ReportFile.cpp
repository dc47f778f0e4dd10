#include "writers/ReportFile.h"

#include <stdexcept>

namespace varnok {

std::ofstream open_report(const std::string& path, const std::string& open_failure) {
    std::ofstream out(path, std::ios::out | std::ios::trunc);
    if (!out.is_open()) throw std::runtime_error(open_failure + path);
    return out;
}

void close_report(std::ofstream& out, const std::string& writer, const std::string& path) {
    out.flush();
    const bool written = static_cast<bool>(out);
    out.close();
    if (!written || out.fail()) throw std::runtime_error(writer + ": cannot write file: " + path);
}

}  // namespace varnok
