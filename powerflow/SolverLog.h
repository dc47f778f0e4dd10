// Lines of the solver's optional log stream.
#pragma once

#include <ostream>
#include <utility>

#include <fmt/format.h>

namespace varnok {

// Writes a fixed text; nothing without a log.
inline void log_text(std::ostream* log, const char* text) {
    if (log) *log << text;
}

// Formats and writes one line; without a log nothing is formatted (no text is built, nothing is
// allocated).
template <typename... Args>
void log_line(std::ostream* log, fmt::format_string<Args...> format, Args&&... args) {
    if (log) *log << fmt::format(format, std::forward<Args>(args)...);
}

}  // namespace varnok
