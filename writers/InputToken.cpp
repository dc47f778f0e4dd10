#include "writers/InputToken.h"

namespace varnok {

namespace {

bool begins_comment(std::string_view text) {
    return !text.empty() && (text.front() == '!' || text.front() == '#');
}

bool needs_quotes(std::string_view text) {
    return begins_comment(text) || text.find_first_of(" \t,/;") != std::string_view::npos;
}

// The bytes at which the reader ends a bare token.
bool splits_bare(std::string_view text) {
    return text.find_first_of(" \t;") != std::string_view::npos;
}

}  // namespace

void append_token(std::string& line, std::string_view text) {
    const bool can_enclose = text.find('\'') == std::string_view::npos || splits_bare(text);
    if (needs_quotes(text) && can_enclose) {
        line += '\'';
        line += text;
        line += '\'';
        return;
    }
    if (line.empty() && begins_comment(text)) line += ' ';
    line += text;
}

}  // namespace varnok
