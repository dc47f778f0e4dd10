// One text written as one token of the network input file, so that the reader gives it back
// whole: the quoting rule shared by the dump and the voltage-and-ratio file.
#pragma once

#include <string>
#include <string_view>

namespace varnok {

// Appends `text` to `line` as one token. A text that holds a blank, tab, comma, slash or ";"
// anywhere, or begins with "!" or "#" (a line that begins so is a comment line), is enclosed in
// single quotes; any other text is written as it stands.
//
// The reader has no escape inside quotes: a quote ends the quoted token. So a text that holds a
// single quote is enclosed only when a blank, tab or ";" leaves no other choice (no network read
// from a file holds such a text); otherwise it is written bare, which reads back whole, since
// the reader takes a comma, a slash, "!", "#" and a quote inside a bare token as ordinary bytes.
// Such a bare text that begins with "!" or "#" gets one blank before it when it would begin the
// line, so that the line is not taken for a comment.
void append_token(std::string& line, std::string_view text);

}  // namespace varnok
