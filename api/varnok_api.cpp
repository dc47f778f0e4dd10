// Lifecycle, diagnostics and options of the C interface.
#include <cmath>
#include <new>
#include <string>

#include "api/Context.h"
#include "network/NumberText.h"

namespace {

#if defined(_MSC_VER)
#define VARNOK_COMPILER "MSVC"
#elif defined(__apple_build_version__)
#define VARNOK_COMPILER "AppleClang"
#elif defined(__clang__)
#define VARNOK_COMPILER "Clang"
#elif defined(__GNUC__)
#define VARNOK_COMPILER "GNU"
#else
#define VARNOK_COMPILER "unknown compiler"
#endif

#if defined(_WIN32)
#define VARNOK_SYSTEM "Windows"
#elif defined(__APPLE__)
#define VARNOK_SYSTEM "Darwin"
#elif defined(__linux__)
#define VARNOK_SYSTEM "Linux"
#else
#define VARNOK_SYSTEM "unknown system"
#endif

constexpr const char* kBuildInfo = "varnok 1.3.0 (" VARNOK_COMPILER ", " VARNOK_SYSTEM ")";
constexpr int kOptionCount = 9;

// The integer options take the value truncated toward zero; a value outside the range of int
// (or not a number) saturates to the nearest end (0 for NaN) instead of being undefined.
int truncate_to_int(double value) {
    if (!(value == value)) return 0;
    if (value >= 2147483647.0) return 2147483647;
    if (value <= -2147483648.0) return -2147483647 - 1;
    return static_cast<int>(value);
}

bool is_integer_option(int id) { return id == VARNOK_OPT_NBITMA || id == VARNOK_OPT_PLIM; }

// `value` as a message shows it; empty when memory runs out, since nothing may reach the host.
std::string shown(double value) noexcept {
    try {
        return varnok::format_default(value);
    } catch (...) {
        return std::string();
    }
}

}  // namespace

extern "C" {

VarnokContext* varnok_create(void) {
    try {
        return new (std::nothrow) VarnokContext();
    } catch (...) {
        // a member's constructor ran out of memory; `new` has already freed the storage
        return nullptr;
    }
}

void varnok_destroy(VarnokContext* ctx) { delete ctx; }

void varnok_get_api_version(int* major, int* minor, int* patch) {
    if (major) *major = 1;
    if (minor) *minor = 3;
    if (patch) *patch = 0;
}

const char* varnok_get_build_info(void) { return kBuildInfo; }

const char* varnok_get_last_error(VarnokContext* ctx) {
    return ctx ? ctx->last_error.c_str() : "";
}

void varnok_clear_last_error(VarnokContext* ctx) {
    if (ctx) ctx->last_error.clear();
}

int varnok_set_option(VarnokContext* ctx, int id, double value) {
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    if (id < 0 || id >= kOptionCount) {
        set_error(ctx, "varnok_set_option: unknown option id: ", std::to_string(id));
        return VARNOK_ERR_OUT_OF_RANGE;
    }
    // Every tolerance and threshold of a solve is divided by the base power: a zero base would
    // make them infinite and the next solve "converge" at its start voltages.
    if (id == VARNOK_OPT_SBASE && !(std::isfinite(value) && value > 0.0)) {
        set_error(ctx, "varnok_set_option: base power must be a positive finite number: ",
                  shown(value));
        return VARNOK_ERR_FAILED;
    }
    // A NaN threshold fails every comparison and would switch its control off silently.
    if (std::isnan(value) && !is_integer_option(id)) {
        set_error(ctx, "varnok_set_option: value is not a number");
        return VARNOK_ERR_FAILED;
    }
    varnok::SolverParams& p = ctx->params;
    switch (id) {
        case VARNOK_OPT_SBASE: p.sbase = value; break;
        case VARNOK_OPT_TOLAC: p.tolac = value; break;
        case VARNOK_OPT_TOLREAC: p.tolreac = value; break;
        case VARNOK_OPT_NBITMA: p.nbitma = truncate_to_int(value); break;
        case VARNOK_OPT_MISBLOC: p.misbloc = value; break;
        case VARNOK_OPT_MISADJ: p.misadj = value; break;
        case VARNOK_OPT_MISQLIM: p.misqlim = value; break;
        case VARNOK_OPT_PLIM: p.plim = truncate_to_int(value); break;
        case VARNOK_OPT_DIVDET: p.divdet = value; break;
        default: break;
    }
    return VARNOK_OK;
}

int varnok_get_option(VarnokContext* ctx, int id, double* value) {
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    if (!value) {
        set_error(ctx, "varnok_get_option: NULL argument");
        return VARNOK_ERR_NULL_ARG;
    }
    if (id < 0 || id >= kOptionCount) {
        set_error(ctx, "varnok_get_option: unknown option id: ", std::to_string(id));
        return VARNOK_ERR_OUT_OF_RANGE;
    }
    const varnok::SolverParams& p = ctx->params;
    const double values[kOptionCount] = {p.sbase,   p.tolac,  p.tolreac, double(p.nbitma), p.misbloc,
                                         p.misadj,  p.misqlim, double(p.plim), p.divdet};
    *value = values[id];
    return VARNOK_OK;
}

}  // extern "C"
