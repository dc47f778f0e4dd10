/*
 * varnok: steady-state AC power flow for transmission networks.
 *
 * Plain C interface over an opaque handle. Every function that takes a handle tests its arguments
 * in one order: the handle (a null handle gives VARNOK_ERR_NULL_ARG and stores nothing), the other
 * required pointers, whether a network is loaded where one is needed, then names and indexes.
 * A negative status leaves a text in the handle's last error (varnok_get_last_error); a success
 * never clears it. No function starts a thread or takes a lock: a handle serves one caller at a
 * time, distinct handles share nothing.
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

/* Sets option `id` (0 to 8) to `value`, unvalidated; -4 for an unknown id. Options survive a
 * load unless the file holds that option's "$" record, and a reset leaves them alone. */
VARNOK_API int varnok_set_option(VarnokContext* ctx, int id, double value);
/* Reads option `id` into *value; -2 for a NULL value (tested before the id), -4 unknown id. */
VARNOK_API int varnok_get_option(VarnokContext* ctx, int id, double* value);

/* ---- Loading and resetting -------------------------------------------------------------- */

/* ---- Solving and solver results --------------------------------------------------------- */

/* ---- Element queries -------------------------------------------------------------------- */

#ifdef __cplusplus
}
#endif

#endif /* VARNOK_API_H */
