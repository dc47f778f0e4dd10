// The output file of a report writer: opened in text mode, replacing an existing file, and
// checked once more after the last line, so that a failed write (a full disk) is not taken for a
// finished report.
#pragma once

#include <fstream>
#include <string>

namespace varnok {

// Opens `path` for writing in text mode. Throws a runtime error "<open_failure><path>" when the
// file cannot be opened, e.g. open_failure = "DumpWriter: cannot open file: ".
std::ofstream open_report(const std::string& path, const std::string& open_failure);

// Flushes and closes a report after its last line. Throws a runtime error
// "<writer>: cannot write file: <path>" when any write, the flush or the close failed; the lines
// that reached the file stay there.
void close_report(std::ofstream& out, const std::string& writer, const std::string& path);

}  // namespace varnok
