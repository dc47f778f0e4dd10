/*
 * varnok: steady-state AC power flow for transmission networks.
 *
 * Plain C interface over an opaque handle. Every function that takes a handle tests its arguments
 * in one order: the handle (a null handle gives VARNOK_ERR_NULL_ARG and stores nothing), the other
 * required pointers, whether a network is loaded where one is needed, then names and indexes.
 * Apart from a NULL handle and a NULL name given to a lookup (varnok_find_*), a negative status
 * leaves a text in the handle's last error (varnok_get_last_error); a success never clears it.
 * Some successes replace it with a warning or a report, each described at its function:
 * varnok_apply_changes with an active-power imbalance, varnok_change_generation cut at an active
 * limit, varnok_change_zone_generation that could not place the whole change, and the two
 * contingency runs when they report something (an unknown action or name, a bad "HC" value, a
 * trip of the slack bus's generator). Every other success leaves it as it was, so a host that
 * reads the last error after one of these calls clears it first (varnok_clear_last_error) to
 * tell this call's text from an older one. No function starts a thread or takes a lock: a
 * handle serves one caller at a time, distinct handles share nothing.
 *
 * Units: voltages in per unit, angles in radians, nominal voltages in kV; every power a query
 * returns is in MW, Mvar or MVA on option VARNOK_OPT_SBASE at the time of the call.
 *
 * Ownership: texts returned by the functions belong to the handle (or are static where said) and
 * stay valid until the next call that changes that text or destroys the handle.
 */
#ifndef VARNOK_API_H
#define VARNOK_API_H

#if defined(_WIN32)
#  if defined(VARNOK_BUILDING_LIBRARY)
#    define VARNOK_API __declspec(dllexport)
#  else
#    define VARNOK_API __declspec(dllimport)
#  endif
#else
#  define VARNOK_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The handle: created by varnok_create, freed by varnok_destroy. */
typedef struct VarnokContext VarnokContext;

/* Status codes. Functions returning a count, an index or a solver status return that value
 * (0 or more) in place of VARNOK_OK. */
enum {
    VARNOK_NOT_CONVERGED = 1,         /* a solve or an application of changes did not converge */
    VARNOK_OK = 0,                    /* success */
    VARNOK_ERR_FAILED = -1,           /* an exception was caught, or a change was refused */
    VARNOK_ERR_NULL_ARG = -2,         /* null handle, argument, or null/empty name buffer */
    VARNOK_ERR_NOT_FOUND = -3,        /* no element of that name, or a bus in no zone */
    VARNOK_ERR_OUT_OF_RANGE = -4,     /* element index or option id out of range */
    VARNOK_ERR_IO = -5,               /* a file cannot be opened, or a report writer failed */
    VARNOK_ERR_PARSE = -6,            /* the input or contingency file was not accepted */
    VARNOK_ERR_NOT_LOADED = -7,       /* no network loaded */
    VARNOK_ERR_BUFFER_TOO_SMALL = -8  /* the caller's array or name buffer is too small */
};

/* Option ids of varnok_set_option / varnok_get_option. Ids 3 and 7 are integers: a value set is
 * truncated toward zero. Defaults in brackets; each is also set by the input record named. */
enum {
    VARNOK_OPT_SBASE = 0,   /* base power, MVA [100.0] "$SBASE" */
    VARNOK_OPT_TOLAC = 1,   /* active-power tolerance, MW [0.1] "$TOLAC" */
    VARNOK_OPT_TOLREAC = 2, /* reactive-power tolerance, Mvar [0.1] "$TOLREAC" */
    VARNOK_OPT_NBITMA = 3,  /* iteration limit [20] "$NBITMA" */
    VARNOK_OPT_MISBLOC = 4, /* fresh-factorisation threshold, MVA [10.0] "$MISBLOC" */
    VARNOK_OPT_MISADJ = 5,  /* tap-adjustment threshold, MVA [10.0] "$MISADJ" */
    VARNOK_OPT_MISQLIM = 6, /* reactive-limit threshold, MVA [20.0] "$MISQLIM" */
    VARNOK_OPT_PLIM = 7,    /* 1: slack generator exempt from P-limit clamping [1] "$PLIM" */
    VARNOK_OPT_DIVDET = 8   /* > 0 enables divergence detection [0.0] "$DIVDET" */
};

/* ---- Lifecycle and diagnostics ---------------------------------------------------------- */

/* New handle with default options and an empty network; NULL when memory runs out. */
VARNOK_API VarnokContext* varnok_create(void);
/* Frees the handle and everything it owns; NULL does nothing. */
VARNOK_API void varnok_destroy(VarnokContext* ctx);
/* Writes 1, 3, 0 through each pointer that is not NULL. */
VARNOK_API void varnok_get_api_version(int* major, int* minor, int* patch);
/* Static text: name, version, compiler and system, e.g. "varnok 1.3.0 (GNU, Linux)". */
VARNOK_API const char* varnok_get_build_info(void);
/* The last error or warning text, owned by the handle; a static "" for a NULL handle. */
VARNOK_API const char* varnok_get_last_error(VarnokContext* ctx);
/* Empties the last-error text; NULL does nothing. */
VARNOK_API void varnok_clear_last_error(VarnokContext* ctx);

/* ---- Options ---------------------------------------------------------------------------- */

/* Sets option `id` (0 to 8) to `value` and returns 0; -4 for an unknown id (tested first).
 * Refused with -1, the option keeping its old value: for VARNOK_OPT_SBASE any value that is not
 * a positive finite number ("varnok_set_option: base power must be a positive finite number: "
 * and the value as a C++ stream prints a double by default: up to six significant digits, no
 * trailing zeros and no decimal point for a whole number, "0", "-0", "-5", "-2.5e-07", "inf",
 * "nan"), for the other real options NaN
 * ("varnok_set_option: value is not a number"). Zero, negative and infinite tolerances and
 * thresholds are taken; an infinite threshold means no limit. The integer options take any
 * value: truncated toward zero, saturated at the ends of the int range, 0 for NaN. Options
 * survive a load unless the file holds that option's "$" record, and a reset leaves them
 * alone. */
VARNOK_API int varnok_set_option(VarnokContext* ctx, int id, double value);
/* Reads option `id` into *value; -2 for a NULL value (tested before the id), -4 unknown id. */
VARNOK_API int varnok_get_option(VarnokContext* ctx, int id, double* value);

/* ---- Loading and resetting -------------------------------------------------------------- */

/* Reads the network input file `path` (zero-terminated; only read during the call, the caller
 * keeps it) into the handle and saves its state for varnok_reset. Returns 0; -2 NULL handle or
 * path; -5 not a readable regular file (handle unchanged); -6 the file was not accepted (last
 * error: the reader's text); -1 unknown failure. A success stores no text. Numbers in the file
 * are read with a decimal point whatever locale the host has set, and the reader's warnings
 * (standard error, one line each, beginning "varnok: ") print them the same way.
 * Every load that gets past the probe first empties the handle's network, solver and last solve
 * result, keeping the options; so a second load replaces the first network completely. After a
 * failure the network holds what the reader built before it stopped and no saved state; a handle
 * that was never loaded stays not loaded (-7 from the exports that need a network), while one
 * loaded earlier stays loaded and then acts on that partial network: load a file that is
 * accepted before solving again. */
VARNOK_API int varnok_load_file(VarnokContext* ctx, const char* path);
/* Restores the state saved by the last successful load (voltages, loads, shunts, bus types,
 * statuses, unit modes, outputs and setpoints, tap positions), drops pending changes and clears
 * the last solve result; options and the last error stay. 0; -2 NULL handle; -7 not loaded; -1. */
VARNOK_API int varnok_reset(VarnokContext* ctx);

/* ---- Solving and solver results --------------------------------------------------------- */

/* Prunes the parts cut off from the slack bus, then solves the power flow from the voltages
 * stored in the buses: 0 converged, 1 not converged, -1 failure (text in the last error),
 * -7 no network loaded. The control state that the solve changed stays in the network. */
VARNOK_API int varnok_solve(VarnokContext* ctx);
/* 0 when the last solve converged, 1 when it did not or none has run since create or reset. */
VARNOK_API int varnok_get_convergence_status(VarnokContext* ctx);
/* Number of iterations of the last solve (0 when none has run). */
VARNOK_API int varnok_get_iteration_count(VarnokContext* ctx);
/* Largest active (MW) and reactive (Mvar) bus mismatch of the last solve, as the solve recorded
 * them; each pointer is optional. */
VARNOK_API int varnok_get_max_mismatch(VarnokContext* ctx, double* max_p_mw, double* max_q_mvar);
/* How the last solve ended: 0 not run, 1 converged, 2 diverged, 3 iteration limit, 4 singular
 * Jacobian. */
VARNOK_API int varnok_get_solver_status(VarnokContext* ctx);

/* ---- Element queries -------------------------------------------------------------------- */

/* None of these tests whether a network is loaded: before a load they answer from the empty
 * network (counts 0, every index out of range, every name unknown). Indexes run from 0 to the
 * count minus 1 and stay valid until the next load. Getters by index skip each NULL output
 * pointer; getters by name need every pointer. Powers are MW, Mvar or MVA on option
 * VARNOK_OPT_SBASE at the time of the call; flows are positive leaving the bus into the branch. */

/* Element counts; -2 for a NULL handle. */
VARNOK_API int varnok_get_bus_count(VarnokContext* ctx);
VARNOK_API int varnok_get_branch_count(VarnokContext* ctx);
VARNOK_API int varnok_get_generator_count(VarnokContext* ctx);
VARNOK_API int varnok_get_svc_count(VarnokContext* ctx);
VARNOK_API int varnok_get_zone_count(VarnokContext* ctx);
VARNOK_API int varnok_get_cut_count(VarnokContext* ctx);

/* Name of element `index` copied with its terminating zero into `buffer` of `capacity` bytes
 * (capacity must exceed the name's length). -4 bad index (tested first), -2 NULL buffer or
 * capacity <= 0, -8 too small (buffer untouched). */
VARNOK_API int varnok_get_bus_name(VarnokContext* ctx, int index, char* buffer, int capacity);
VARNOK_API int varnok_get_branch_name(VarnokContext* ctx, int index, char* buffer, int capacity);
VARNOK_API int varnok_get_generator_name(VarnokContext* ctx, int index, char* buffer,
                                         int capacity);
VARNOK_API int varnok_get_svc_name(VarnokContext* ctx, int index, char* buffer, int capacity);
VARNOK_API int varnok_get_zone_name(VarnokContext* ctx, int index, char* buffer, int capacity);
VARNOK_API int varnok_get_cut_name(VarnokContext* ctx, int index, char* buffer, int capacity);

/* Index of the element of that exact (case-sensitive) name, the newest one when a name repeats;
 * -2 for a NULL handle or name (no text), -3 unknown name. */
VARNOK_API int varnok_find_bus(VarnokContext* ctx, const char* name);
VARNOK_API int varnok_find_branch(VarnokContext* ctx, const char* name);
VARNOK_API int varnok_find_generator(VarnokContext* ctx, const char* name);
VARNOK_API int varnok_find_svc(VarnokContext* ctx, const char* name);
VARNOK_API int varnok_find_zone(VarnokContext* ctx, const char* name);
VARNOK_API int varnok_find_cut(VarnokContext* ctx, const char* name);

/* Stored voltage of the named bus: magnitude (pu) and angle (rad). -2 NULL argument, -3. */
VARNOK_API int varnok_get_bus_voltage(VarnokContext* ctx, const char* name, double* magnitude,
                                      double* angle);
/* Active (MW) and reactive (Mvar) flow at the from end of the named branch, from the stored bus
 * voltages; 0 and 0 for an open branch. -2 NULL argument, -3, -1 exception (nothing written). */
VARNOK_API int varnok_get_branch_flow(VarnokContext* ctx, const char* name, double* p_mw,
                                      double* q_mvar);

/* Bus `index`: magnitude (pu), angle (rad), type (0 PQ, 1 PV, 2 SLACK, 3 ISOLATED), nominal
 * voltage (kV). -4 bad index. */
VARNOK_API int varnok_get_bus_info(VarnokContext* ctx, int index, double* v, double* angle,
                                   int* type, double* vnom_kv);
/* Bus `index`: active load (MW), reactive load (Mvar). */
VARNOK_API int varnok_get_bus_load(VarnokContext* ctx, int index, double* p_mw, double* q_mvar);
/* Bus `index`: shunt (Mvar injected at 1 pu), constant reactive injection (Mvar). */
VARNOK_API int varnok_get_bus_shunt(VarnokContext* ctx, int index, double* b_mvar,
                                    double* q_mvar);
/* Branch `index`: from and to bus indexes, status (1 in, 0 out), 1 for a transformer, rating
 * (MVA). */
VARNOK_API int varnok_get_branch_info(VarnokContext* ctx, int index, int* from_bus, int* to_bus,
                                      int* status, int* is_transformer, double* rating_mva);
/* Branch `index`: P and Q at the from end, P and Q at the to end (MW, Mvar), from the stored
 * bus voltages. -1 exception (nothing written). */
VARNOK_API int varnok_get_branch_flow_by_index(VarnokContext* ctx, int index, double* p_from_mw,
                                               double* q_from_mvar, double* p_to_mw,
                                               double* q_to_mvar);
/* Generator `index`: bus index, status as read (only 1 is in service), P (MW), Q (Mvar),
 * voltage setpoint (pu, 0 when none). */
VARNOK_API int varnok_get_generator_info(VarnokContext* ctx, int index, int* bus, int* status,
                                         double* p_mw, double* q_mvar, double* v_set);
/* Generator `index`: Pmin, Pmax (MW), Qmin, Qmax (Mvar), 1 when the input gave active limits. */
VARNOK_API int varnok_get_generator_limits(VarnokContext* ctx, int index, double* p_min_mw,
                                           double* p_max_mw, double* q_min_mvar,
                                           double* q_max_mvar, int* has_p_limits);
/* Compensator `index`: bus index, status, Q (Mvar), voltage setpoint (pu), mode (-1 fixed Q,
 * -4 voltage control, 4 at Bmax, 5 at Bmin). */
VARNOK_API int varnok_get_svc_info(VarnokContext* ctx, int index, int* bus, int* status,
                                   double* q_mvar, double* v_set, int* mode);
/* Cut `index`: active (MW) and reactive (Mvar) flow across it, the sum over its members of the
 * sign times the branch's flow at the member's end. -1 exception (nothing written). */
VARNOK_API int varnok_get_cut_flow(VarnokContext* ctx, int index, double* p_mw, double* q_mvar);
/* Index of the zone holding bus `index` (of several, the first that listed it); -3 for a bus in
 * no zone, -4 bad index. */
VARNOK_API int varnok_get_bus_zone(VarnokContext* ctx, int index);

/* Bulk copies: entry i of each non-NULL array receives the value of element i, for exactly the
 * element count (later entries untouched). -8 when `capacity` is below the count (nothing
 * written), -2 NULL handle. */
VARNOK_API int varnok_copy_bus_voltages(VarnokContext* ctx, double* v, double* angle,
                                        int capacity);
VARNOK_API int varnok_copy_bus_loads(VarnokContext* ctx, double* p_mw, double* q_mvar,
                                     int capacity);
/* -1 on an exception, the entries of the branches before it written. */
VARNOK_API int varnok_copy_branch_flows(VarnokContext* ctx, double* p_from_mw,
                                        double* q_from_mvar, double* p_to_mw, double* q_to_mvar,
                                        int capacity);
VARNOK_API int varnok_copy_branch_status(VarnokContext* ctx, int* status, int capacity);
VARNOK_API int varnok_copy_generator_outputs(VarnokContext* ctx, double* p_mw, double* q_mvar,
                                             int* status, int capacity);
VARNOK_API int varnok_copy_svc_outputs(VarnokContext* ctx, double* q_mvar, int* status,
                                       int capacity);

/* Bus table, one line per bus: "bus <name> V=<pu> angle=<rad> type=<PQ|PV|SLACK|ISOLATED>
 * vnom_kv=<kV>", numbers with six significant digits. Rebuilt on each call; owned by the handle
 * and valid until the next call of this function. A static "" for a NULL handle. */
VARNOK_API const char* varnok_get_output_text(VarnokContext* ctx);

/* ---- Modifications and applying them ---------------------------------------------------- */

/* Each change acts on a loaded network at once and takes the element's exact (case-sensitive)
 * NUL-terminated name, which is only read during the call. The active-power imbalance that the
 * changes leave (load added, generation lost or moved) waits in the handle until
 * varnok_apply_changes spreads it over the generators; varnok_solve in between solves the
 * changed network with the slack bus taking the whole imbalance and keeps it waiting. A
 * successful varnok_reset, a varnok_load_file that gets past its probe (it empties the network,
 * so also one that then fails) and varnok_destroy drop the waiting imbalance. Powers are MW and
 * Mvar on the base power that the network was loaded with (VARNOK_OPT_SBASE at the load, after
 * the file's "$SBASE"), not on a value of that option set later; setpoints are pu.
 *
 * Statuses, tested in this order; texts go to the last error followed by the name as given:
 *   -2  NULL handle (no text) or NULL name: "<function>: NULL argument"
 *   -7  no network loaded: "<function>: no network loaded"
 *   -3  no such element: "<function>: unknown branch: " (generator, SVC, bus, zone) and the name
 *   -1  refused, as each function says; nothing changes
 *   -1  a value that is not finite: "<function>: value is not a finite number: " and the value
 *       ("nan", "inf", "-inf"); nothing changes. Finite values, zero and negative included, are
 *       accepted as they come.
 *   -1  an exception (memory exhausted): its text, or "<function>: unknown error"
 *    0  done; a success leaves the last error as it was, unless the function says otherwise. */

/* Takes the branch out of service (also when it is out already). A bus cut off by it is taken
 * out at the next solve or apply (type ISOLATED, load and shunt 0, its units and branches out of
 * service) and stays out until a reset, or until a generator is connected at it. */
VARNOK_API int varnok_trip_branch(VarnokContext* ctx, const char* branch);
/* Puts the branch back in service. -1 "varnok_connect_branch: already connected: " when it is in
 * service. It does not bring back a bus taken out earlier: such a bus is taken out again, with
 * the branch, at the next solve or apply, unless a generator is connected there. */
VARNOK_API int varnok_connect_branch(VarnokContext* ctx, const char* branch);
/* Takes the generator out of service; its active output, if it was in service, joins the
 * imbalance, and its bus loses voltage control. -1 "varnok_trip_generator: slack generator must
 * not be tripped: " for the unit at the slack bus. */
VARNOK_API int varnok_trip_generator(VarnokContext* ctx, const char* generator);
/* Puts the generator back in service at 0 MW under voltage control, holding its bus's present
 * voltage (at a bus left at 0 V by an earlier outage: the voltage as read, else 1.0 pu); its
 * bus becomes voltage-controlled (PV). A bus taken out earlier so comes back into the next solve
 * once a branch in service joins it to the network again (its load and shunt stay 0 until a
 * reset). -1 "varnok_connect_generator: already connected: " when it is in service. */
VARNOK_API int varnok_connect_generator(VarnokContext* ctx, const char* generator);
/* Takes the static var compensator out of service (also when it is out already). */
VARNOK_API int varnok_trip_svc(VarnokContext* ctx, const char* svc);
/* Puts the compensator back in service under voltage control, holding its own bus's present
 * voltage (as for a generator when that is 0). -1 "varnok_connect_svc: already connected: ". */
VARNOK_API int varnok_connect_svc(VarnokContext* ctx, const char* svc);
/* Sets the generator's voltage setpoint (pu), unvalidated; mode, status and bus type stay. */
VARNOK_API int varnok_set_generator_voltage(VarnokContext* ctx, const char* generator,
                                            double v_set_pu);
/* Holds the generator at a reactive output of `q_mvar` as at a reactive limit, in or out of
 * service; a unit in service no longer controls its bus's voltage (the bus becomes PQ, also the
 * slack bus), a unit out of service leaves its bus's type alone. With the reactive-limit control
 * active, a unit with a voltage setpoint returns to voltage control in a later solve when its bus
 * voltage rises more than 1e-4 pu above the setpoint. */
VARNOK_API int varnok_set_generator_pq(VarnokContext* ctx, const char* generator, double q_mvar);
/* Changes the generator's active output by `delta_p_mw`, cut at its active limits; only the
 * change made joins the imbalance. -1 "varnok_change_generation: generator not in operation: "
 * for a unit out of service. Cut at a limit: 0, and the last error receives
 * " active power limited to maximum (<limit> MW)\n" (or "minimum"). */
VARNOK_API int varnok_change_generation(VarnokContext* ctx, const char* generator,
                                        double delta_p_mw);
/* Adds `delta_p_mw` and `delta_q_mvar` to the bus's load (negative removes); the active part
 * joins the imbalance. */
VARNOK_API int varnok_change_load(VarnokContext* ctx, const char* bus, double delta_p_mw,
                                  double delta_q_mvar);
/* Adds `delta_b_mvar` (reactive injection at 1 pu voltage, positive capacitive) to the bus's
 * shunt. */
VARNOK_API int varnok_change_shunt(VarnokContext* ctx, const char* bus, double delta_b_mvar);
/* Spreads a load change over the zone's buses by their active and reactive participation
 * factors; the active part joins the imbalance. -1 when either sum of factors is 0 (a zone of
 * "ZONE" records only, for instance), with "varnok_change_zone_load: sum of bus participations
 * is zero !\n" in the last error; nothing changes. */
VARNOK_API int varnok_change_zone_load(VarnokContext* ctx, const char* zone, double delta_p_mw,
                                       double delta_q_mvar);
/* Spreads a generation change over the in-service generators at the zone's buses by their
 * active participation factors (a negative factor counts as 0), within their active limits,
 * until less than 0.1 MW is left; the change made joins the imbalance. When the units cannot
 * take it all: 0, with " Insufficient reserve. Generation change limited to <MW> MW\n" (the
 * change made, 0 when nothing moved) in the last error. */
VARNOK_API int varnok_change_zone_generation(VarnokContext* ctx, const char* zone,
                                             double delta_p_mw);

/* Applies the changes: takes out the parts cut off from the slack bus (their generation minus
 * load joins the imbalance), spreads the imbalance over the generators by their participation
 * factors within their active limits (the slack bus takes the rest), solves, and recomputes the
 * generator and compensator outputs when the solve converged. Without earlier changes it does
 * the same with an imbalance of 0. Returns 0 converged, 1 not converged (the solver results
 * report this solve either way, and the changes count as applied), -2 NULL handle,
 * -7 "varnok_apply_changes: no network loaded", -1 an exception (its text; the changes stay
 * pending and the last solve result as it was). When the imbalance is not 0, the last error
 * receives "\n Deficit of active power : <MW> MW compensated on generators\n" (or "Excess"
 * with the surplus), written before the spreading, whatever the generators could take; an
 * imbalance of 0 leaves the last error as it was. */
VARNOK_API int varnok_apply_changes(VarnokContext* ctx);

/* ---- Contingency studies ---------------------------------------------------------------- */

/* A run studies each contingency of a list in turn: it puts the network back into the state it
 * had at the call, applies the contingency's trips and shunt compensation, takes the parts that
 * these cut off from the slack bus out of operation, spreads the active power lost with tripped
 * generators and cut-off parts over the other generators, solves from the voltages at the call
 * with a fresh solver and screens the solution. At the end the network is as it was at the call
 * (also when the run fails part way); the handle's solver and its last solve result
 * (varnok_get_convergence_status and kin) are not touched.
 *
 * Thresholds, for both runs: vmin and vmax (bus voltage band, pu), max_loading_pct (branch
 * loading limit, percent of the rating), max_drop (largest fall of a bus voltage below its value
 * at the call, pu). All comparisons are strict (a value equal to its threshold passes); an
 * infinite threshold means no limit; a NaN threshold is refused with -1 and
 * "<function>: threshold is not a number: <name>", the first NaN one in the order vmin, vmax,
 * max_loading_pct, max_drop, before any file is opened.
 *
 * Screens of a converged solve, over the buses that are not ISOLATED and the in-service branches
 * with a rating above 0, in index order; each violation adds its text:
 *   "voltage at bus <name> = <V> < <vmin> pu"            (name padded to 8, numbers %.5f)
 *   "voltage at bus <name> = <V> > <vmax> pu"
 *   "voltage at bus <name> dropped by <drop> > <max_drop> pu"
 *   "loading of branch <name> = <S> > <limit> pu"        (name padded to 20, numbers %.2f;
 *                                                        S and rating x max_loading_pct / 100
 *                                                        in per unit)
 * A solve that does not converge gives the one text "divergence !". A step that cannot be
 * applied as written changes nothing, and its report (below), without the leading blank and the
 * newline, comes first among the violations, in step order: "unknown branch in contingency
 * description : <name>" (generator, SVC, bus), "Slack generator must not be tripped !". So does
 * each line of the file that the reader reported, in file order among them: "unknown
 * contingency action: <line>" (a mistyped keyword, a keyword with its name on the same line, or
 * the name line of a next contingency whose "end_contingency" before it is missing) and "invalid
 * HC compensation value: <line>" (no number, or one that is not finite). The contingency's
 * valid steps are still made, and it is solved and screened. A contingency is accepted when the
 * reader reported none of its lines, every step applied and it converged without violation.
 *
 * Results stay in the handle, one per contingency in list order, until the next run that
 * completes (which replaces them all) or the next successful varnok_load_file (which empties
 * them); a failed run and varnok_reset leave them as they were.
 *
 * Both runs return the number of contingencies studied (0 or more) or a negative status; -1 with
 * the exception's text when the run fails (memory exhaustion). The reports of the run (unknown
 * actions and bad "HC" values in the file, element names the network lacks, a trip of the slack
 * bus's generator), one line each with a leading blank, become the last error unchanged when
 * there are any; a run without reports leaves the last error as it was. */

/* Studies the contingencies of the contingency file `path` (zero-terminated, read during the
 * call only). The file holds contingencies of a name line, then action lines "BT" (trip branch:
 * its name on the next line), "BT1" (likewise, and the line after the name is skipped), "GT"
 * (trip generator), "ST" (trip compensator) and "HC" (bus name, then the Mvar at 1 pu added to
 * its shunt), keywords in any case, each closed by a line that contains "end_contingency" or by
 * the end of the file.
 * -2 NULL handle (no text) or path ("varnok_run_contingencies_file: NULL argument"); -7 not
 * loaded ("varnok_run_contingencies_file: no network loaded"); -1 NaN threshold; -5 not a
 * readable regular file ("varnok_run_contingencies_file: cannot open file: <path>"), or a read
 * that fails part way ("varnok_run_contingencies_file: cannot read file: <path>"); -6 the file
 * could be probed but the reader could not open it ("varnok_run_contingencies_file: " and the
 * reader's report). A file without contingencies (empty, blank lines only) runs the empty list
 * and returns 0. */
VARNOK_API int varnok_run_contingencies_file(VarnokContext* ctx, const char* path, double vmin,
                                             double vmax, double max_loading_pct,
                                             double max_drop);
/* Studies the single outage of every element in service of the kinds selected (non-zero):
 * branches, named "BR: <name>"; generators but the one at the slack bus, "GN: <name>";
 * compensators, "SV: <name>"; in that order, each kind in index order. All flags 0 runs the
 * empty list. -2 NULL handle (no text); -7 not loaded ("varnok_run_contingencies_n1: no network
 * loaded"); -1 NaN threshold. */
VARNOK_API int varnok_run_contingencies_n1(VarnokContext* ctx, int branches, int generators,
                                           int svcs, double vmin, double vmax,
                                           double max_loading_pct, double max_drop);

/* Result getters. None tests whether a network is loaded. -2 NULL handle (no text); an `index`
 * (or violation index) below 0 or not below the count gives -4 with "<function>: index out of
 * range: <index>" and writes nothing. Names and texts are copied with their terminating zero
 * into `buffer` of `capacity` bytes: -2 "NULL or empty name buffer" for a NULL buffer or
 * capacity <= 0, -8 "name buffer too small for: <text>" (buffer untouched) unless capacity
 * exceeds the length. Values are returned unconverted: voltages pu, loadings percent. */

/* Number of results of the last run (0 before any run and after a load). */
VARNOK_API int varnok_get_contingency_count(VarnokContext* ctx);
/* Name of contingency `index`. */
VARNOK_API int varnok_get_contingency_name(VarnokContext* ctx, int index, char* buffer,
                                           int capacity);
/* Through each pointer that is not NULL: 1 when the solve converged, 1 when accepted, the
 * lowest and highest voltage of a bus not ISOLATED (pu), the highest branch loading (percent of
 * its rating). A solve that did not converge reads 0, 0, 999.0, 0.0, 0.0. */
VARNOK_API int varnok_get_contingency_result(VarnokContext* ctx, int index, int* converged,
                                             int* accepted, double* min_voltage,
                                             double* max_voltage, double* max_loading_pct);
/* Names of the bus of the lowest voltage, of the highest voltage and of the branch of the
 * highest loading (empty when none qualified or the solve did not converge), into each buffer
 * that is not NULL, all of `capacity` bytes, in that order; the first copy that fails returns
 * its status at once (earlier buffers written, later ones untouched). 0 when all NULL. */
VARNOK_API int varnok_get_contingency_extremes(VarnokContext* ctx, int index,
                                               char* min_voltage_bus, char* max_voltage_bus,
                                               char* max_loading_branch, int capacity);
/* Number of violation texts of contingency `index`. */
VARNOK_API int varnok_get_contingency_violation_count(VarnokContext* ctx, int index);
/* Violation text `violation` of contingency `index` (the index is tested first). */
VARNOK_API int varnok_get_contingency_violation(VarnokContext* ctx, int index, int violation,
                                                char* buffer, int capacity);

/* ---- Reports ---------------------------------------------------------------------------- */

/* Each report writes the state that the network holds at the time of the call (no solve) to the
 * file `path` (zero-terminated, read only during the call; a relative path is taken against the
 * working directory), replacing it. Statuses: 0 written; -2 NULL handle (no text) or NULL path
 * ("<function>: NULL argument"); -7 no network loaded ("<function>: no network loaded"); -5 the
 * file cannot be opened ("<Writer>: cannot open file: <path>"), a write failed, e.g. a full disk
 * ("<Writer>: cannot write file: <path>"), or another failure inside the writer (its text). What
 * was written before a failure stays in the file. A success leaves the last error as it was. */

/* The input file with the solved state: the loaded file's comment lines, then every record with
 * the current statuses, loads, outputs, voltages, ratios and control signs written into its
 * fields, and an "LFRESV" record (bus, |V|, angle) for every bus, appended at the end for a bus
 * that had none (of two buses of one name, only for the later one, which the name finds). The "$"
 * records keep the texts of the file: options set later do not reach the dump. A field loses the
 * blanks at its ends (one read from ' A' is written A). Numbers are written with 9 significant
 * digits, and one below the smallest normal double (which a solve that did not converge can
 * leave) as 0, so that every dump loads again. Loaded and solved again, the dump gives
 * the same solution (a phase shifter starts again from its position in the file). It changes the
 * handle's network: the state is written into the records kept from the file even when the file
 * cannot be opened, and a later dump updates the "LFRESV" records appended before instead of
 * appending more. Writer: "DumpWriter". */
VARNOK_API int varnok_write_dump(VarnokContext* ctx, const char* path);
/* The voltage-and-ratio file: one "LFRESV" line per bus (|V| pu, angle rad) and one "TRANSFO"
 * line per in-service regulated transformer (impedance and shunts in percent on its rating,
 * ratio in percent, phase in degrees, rating in MVA on the base power of the load), both readable
 * as input. For a start point, append only its "LFRESV" lines to the network's file: the next
 * solve then starts from these voltages. Appending the whole file also adds each "TRANSFO" line
 * as a further branch of the same name beside the transformer already in the file (a name used
 * twice adds a branch), which changes the network and its solution. A transformer rated 0 is
 * written with shunt percentages of 0 and cannot be read back. Changes nothing in the handle.
 * Writer: "VoltRatWriter". */
VARNOK_API int varnok_write_voltrat(VarnokContext* ctx, const char* path);

/* Admittance-matrix script in MATLAB syntax at `path`: for each bus k (1-based, in index order)
 * opt(k).name (8 characters, quotes doubled), .magv (pu), .phav (rad), .injp (MW) and .injq
 * (Mvar), the net injection of the in-service generator or compensator minus the load on option
 * VARNOK_OPT_SBASE; then Y=zeros(N) and one accumulating statement per term of each branch not
 * open and each bus shunt, in per unit, so that at a solved state Y times the voltages gives the
 * injections. Returns 0; -2 NULL handle or path; -7 no network loaded; -5 with
 * "MatlabExporter: cannot open file: <path>" or "MatlabExporter: cannot write file: <path>" (a
 * write failed, e.g. a full disk), or the text of another failure. */
VARNOK_API int varnok_write_matlab(VarnokContext* ctx, const char* path);

/* Diagram: copies the text template `template_path` line by line to `output_path`, replacing in
 * each line its last placeholder "%<letter><argument>" that stands before the line's last
 * "</tspan>" (else its last "</text>") by a value of the network, powers in MW or Mvar on option
 * VARNOK_OPT_SBASE:
 *   A bus: V (pu, 5 decimals)          B bus: V (kV)        C bus: angle (degrees, 2 decimals)
 *   D branch,bus: P leaving the bus    E branch,bus: Q leaving the bus (the to end for a bus
 *                                      that is not the branch's from bus)
 *   F branch: loading, the larger end current over the rating (a fraction, 2 decimals; 0 for a
 *             rating below 1e-4 and at an end at 0 V)
 *   G generator: P   K generator: Q   L compensator: Q   (0 when out of service)
 *   H bus: shunt output   R bus: active load   S bus: reactive load
 *   J branch: tap position of its tap changer (0 for the first entry of its table)
 *   T branch, U generator: "" in service, "X" out of service
 * other values of one decimal; "unknown" for another letter, an empty argument or a name not
 * found. Returns 0; -2 NULL handle or template path ("varnok_write_diagram: NULL argument");
 * -7 no network loaded (whatever the output path); -2 NULL output path
 * ("varnok_write_diagram: NULL output path"); -5 with "DiagramRenderer: cannot open template:
 * <template path>" (also for a directory; the output is then not touched), "DiagramRenderer:
 * output is the template: <output path>" (the same file, also through a link; the template is
 * left as it was), "DiagramRenderer: cannot open output: <output path>", "DiagramRenderer:
 * cannot read template: <template path>", "DiagramRenderer: cannot write file: <output path>",
 * or the text of another failure. */
VARNOK_API int varnok_write_diagram(VarnokContext* ctx, const char* template_path,
                                    const char* output_path);

#ifdef __cplusplus
}
#endif

#endif /* VARNOK_API_H */
