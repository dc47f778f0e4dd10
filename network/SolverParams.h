// Solver settings, in the order of the option ids 0 to 8; each is also set by a "$" input record.
#pragma once

namespace varnok {

struct SolverParams {
    double sbase = 100.0;   // 0 "$SBASE": base power, MVA
    double tolac = 0.1;     // 1 "$TOLAC": active-power tolerance, MW (also the redispatch's)
    double tolreac = 0.1;   // 2 "$TOLREAC": reactive-power tolerance and limit margin, Mvar
    int nbitma = 20;        // 3 "$NBITMA": iteration limit
    double misbloc = 10.0;  // 4 "$MISBLOC": above this mismatch (MVA) factorise afresh
    double misadj = 10.0;   // 5 "$MISADJ": taps and phase shifters move only below this, MVA
    double misqlim = 20.0;  // 6 "$MISQLIM": reactive limits are tested only below this, MVA
    int plim = 1;           // 7 "$PLIM": 1 exempts the slack generator from the P clamping
    double divdet = 0.0;    // 8 "$DIVDET": positive enables divergence detection
};

}  // namespace varnok
