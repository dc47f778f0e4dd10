// The diagram: a text template (an SVG drawing as a rule) copied line by line, each line's last
// placeholder "%<letter><argument>" standing before a closing "</tspan>" or "</text>" replaced by
// a value of the solved network.
#pragma once

#include <string>
#include <vector>

#include "network/Network.h"
#include "network/SolverParams.h"

namespace varnok {

class DiagramRenderer {
public:
    // Fills `template_path` into `output_path`, powers in MW and Mvar on params.sbase. Throws a
    // runtime error, before the output is touched, "DiagramRenderer: cannot open template: <path>"
    // when the template is not a regular file once links are followed (missing, a directory, a
    // FIFO, a device), does not open or cannot be read, and "DiagramRenderer: output is the
    // template: <output path>" when both name one file; then "DiagramRenderer: cannot open
    // output: <path>", "DiagramRenderer: cannot read template: <path>" or
    // "DiagramRenderer: cannot write file: <path>", the output then holding the lines so far.
    void render(const Network& network, const SolverParams& params,
                const std::string& template_path, const std::string& output_path) const;

    // The text of one placeholder, which begins with its "%": the value its letter names for the
    // element of its argument, "unknown" when there is none.
    std::string resolve_placeholder(const Network& network, const SolverParams& params,
                                    const std::string& placeholder) const;
    // The same text, with "J" finding its branch's tap changer in `first_tap`, the
    // first_tap_changers of the network, which a render builds once for all its placeholders.
    std::string resolve_placeholder(const Network& network, const SolverParams& params,
                                    const std::string& placeholder,
                                    const std::vector<int>& first_tap) const;
};

// Entry i is the index of the first tap changer (in network order) of branch i, -1 for a branch
// without one.
std::vector<int> first_tap_changers(const Network& network);

}  // namespace varnok
