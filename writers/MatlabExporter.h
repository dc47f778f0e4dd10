// The admittance-matrix script: the solved bus results and the bus admittance matrix of the
// network in MATLAB syntax, for the user's own analysis. At a solved state Y times the written
// voltages gives the written injections at every bus.
#pragma once

#include <string>

#include "network/Network.h"
#include "network/SolverParams.h"

namespace varnok {

class MatlabExporter {
public:
    // Writes the script to `path`: per bus its name, voltage, angle and net injection (MW, Mvar
    // on params.sbase) into the structure array `opt`, then Y (per unit) built up term by term.
    // Throws a runtime error "MatlabExporter: cannot open file: <path>" when the file does not
    // open and "MatlabExporter: cannot write file: <path>" when a write fails.
    void write(const Network& network, const SolverParams& params, const std::string& path) const;
};

}  // namespace varnok
