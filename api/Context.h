// The handle behind the C interface, and what every export shares: the exception boundary and
// the three guards that produce the common messages. Internal to the api/ sources.
#pragma once

#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "api/varnok_api.h"
#include "network/Network.h"
#include "network/SolverParams.h"
#include "powerflow/PowerFlow.h"
#include "studies/ContingencyAnalysis.h"
#include "studies/ModifyEngine.h"

struct VarnokContext {
    varnok::Network network;
    varnok::SolverParams params;
    varnok::PowerFlowSolver solver;   // of varnok_solve and of applying changes
    varnok::SolveResult last_result;  // of the last solve, apply or reset
    std::string output_text;          // the bus table of varnok_get_output_text
    std::string last_error;           // the last error or warning text
    // Changes made since the last apply, over this handle's network, solver and settings; made
    // by the first change, dropped by apply, reset, a load that gets past its probe, destroy.
    std::unique_ptr<varnok::ModifyEngine> pending_changes;
    // of the last contingency run that completed; emptied by a successful load
    std::vector<varnok::ContingencyAnalysis::Result> contingency_results;
    bool loaded = false;              // a network file has been loaded
};

namespace {

// Stores the concatenated pieces as the last error. Building the text may itself run out of
// memory; then the old text stays, since nothing may escape to the host.
template <typename... Pieces>
void set_error(VarnokContext* ctx, const Pieces&... pieces) noexcept {
    if (!ctx) return;
    try {
        std::string text;
        (text += ... += pieces);
        ctx->last_error = std::move(text);
    } catch (...) {
    }
}

// Runs an export's work and turns any exception into a status: a standard exception stores its
// text and returns `failure`; anything else stores "<export>: unknown error" and returns
// `unknown_failure`. The caller has tested the handle.
template <typename Work>
int guarded(VarnokContext* ctx, const char* export_name, int failure, int unknown_failure,
            Work&& work) noexcept {
    try {
        return work();
    } catch (const std::exception& e) {
        set_error(ctx, e.what());
        return failure;
    } catch (...) {
        set_error(ctx, export_name, ": unknown error");
        return unknown_failure;
    }
}

template <typename Work>
int guarded(VarnokContext* ctx, const char* export_name, int failure, Work&& work) noexcept {
    return guarded(ctx, export_name, failure, failure, std::forward<Work>(work));
}

// "<export>: index out of range: <index>", -4.
inline int bad_index(VarnokContext* ctx, const char* export_name, int index) noexcept {
    set_error(ctx, export_name, ": index out of range: ", std::to_string(index));
    return VARNOK_ERR_OUT_OF_RANGE;
}

// Copies `name` with its terminating zero into the caller's buffer of `capacity` bytes.
// -2 for a null or empty buffer, -8 (buffer untouched) when the name does not fit.
inline int copy_name(VarnokContext* ctx, const std::string& name, char* buffer,
                     int capacity) noexcept {
    if (!buffer || capacity <= 0) {
        set_error(ctx, "NULL or empty name buffer");
        return VARNOK_ERR_NULL_ARG;
    }
    if (name.size() >= static_cast<std::size_t>(capacity)) {
        set_error(ctx, "name buffer too small for: ", name);
        return VARNOK_ERR_BUFFER_TOO_SMALL;
    }
    name.copy(buffer, name.size());
    buffer[name.size()] = '\0';
    return VARNOK_OK;
}

// The common test of the exports that act on a loaded network through one text argument.
inline int check_modify_args(VarnokContext* ctx, const char* argument,
                             const char* export_name) noexcept {
    if (!ctx || !argument) {
        set_error(ctx, export_name, ": NULL argument");
        return VARNOK_ERR_NULL_ARG;
    }
    if (!ctx->loaded) {
        set_error(ctx, export_name, ": no network loaded");
        return VARNOK_ERR_NOT_LOADED;
    }
    return VARNOK_OK;
}

// The probe before reading a file the host names: only a regular file that opens for reading
// counts (a directory opens as a stream on some systems and then reads as an empty file).
inline bool readable_file(const char* path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(std::filesystem::path(path), ec) || ec) return false;
    std::ifstream probe(path);
    return probe.is_open();
}

}  // namespace
