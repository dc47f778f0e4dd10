// Contingency runs, from a file or as N-1, and the getters of their results.
#include <cmath>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "api/Context.h"
#include "studies/ContingencyAnalysis.h"
#include "studies/ContingencyFileParser.h"

namespace {

using varnok::Contingency;
using varnok::ContingencyAnalysis;

// Runs the study on the handle's network and settings and keeps its results. The reports of
// the reader and of the run, collected in `log`, become the last error when there are any.
int run_contingencies(VarnokContext* ctx, const std::vector<Contingency>& list,
                      std::ostringstream& log, double vmin, double vmax, double max_loading_pct,
                      double max_drop) {
    std::vector<ContingencyAnalysis::Result> results = ContingencyAnalysis().run(
        ctx->network, ctx->params, list, vmin, vmax, max_loading_pct, max_drop, &log);
    ctx->contingency_results = std::move(results);
    std::string text = log.str();
    if (!text.empty()) ctx->last_error = std::move(text);
    return static_cast<int>(ctx->contingency_results.size());
}

// A NaN threshold would make its screen's comparison always false and pass every contingency
// unscreened: refused, naming the first such threshold. An infinite one means no limit.
int refuse_nan_threshold(VarnokContext* ctx, const char* export_name, double vmin, double vmax,
                         double max_loading_pct, double max_drop) {
    const std::pair<const char*, double> thresholds[] = {
        {"vmin", vmin}, {"vmax", vmax}, {"max_loading_pct", max_loading_pct},
        {"max_drop", max_drop}};
    for (const auto& [name, value] : thresholds) {
        if (std::isnan(value)) {
            set_error(ctx, export_name, ": threshold is not a number: ", name);
            return VARNOK_ERR_FAILED;
        }
    }
    return VARNOK_OK;
}

// The result `index` of the last run, or null after storing the -4 text of `export_name`.
const ContingencyAnalysis::Result* result_at(VarnokContext* ctx, const char* export_name,
                                             int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= ctx->contingency_results.size()) {
        bad_index(ctx, export_name, index);
        return nullptr;
    }
    return &ctx->contingency_results[static_cast<std::size_t>(index)];
}

}  // namespace

extern "C" {

int varnok_run_contingencies_file(VarnokContext* ctx, const char* path, double vmin, double vmax,
                                  double max_loading_pct, double max_drop) {
    static constexpr const char* kName = "varnok_run_contingencies_file";
    if (const int status = check_modify_args(ctx, path, kName)) return status;
    if (const int status = refuse_nan_threshold(ctx, kName, vmin, vmax, max_loading_pct, max_drop))
        return status;
    return guarded(ctx, kName, VARNOK_ERR_FAILED, [&]() -> int {
        if (!readable_file(path)) {
            set_error(ctx, kName, ": cannot open file: ", path);
            return VARNOK_ERR_IO;
        }
        std::ostringstream log;
        bool read_failed = false;
        const std::vector<Contingency> list =
            varnok::ContingencyFileParser().parse(path, &log, &read_failed);
        // What was read before the error is no shorter file: nothing is studied.
        if (read_failed) {
            set_error(ctx, kName, ": cannot read file: ", path);
            return VARNOK_ERR_IO;
        }
        // An empty list with a report: the reader could not open what the probe opened.
        if (list.empty() && !log.str().empty()) {
            set_error(ctx, kName, ": ", log.str());
            return VARNOK_ERR_PARSE;
        }
        return run_contingencies(ctx, list, log, vmin, vmax, max_loading_pct, max_drop);
    });
}

int varnok_run_contingencies_n1(VarnokContext* ctx, int branches, int generators, int svcs,
                                double vmin, double vmax, double max_loading_pct,
                                double max_drop) {
    static constexpr const char* kName = "varnok_run_contingencies_n1";
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    if (!ctx->loaded) {
        set_error(ctx, kName, ": no network loaded");
        return VARNOK_ERR_NOT_LOADED;
    }
    if (const int status = refuse_nan_threshold(ctx, kName, vmin, vmax, max_loading_pct, max_drop))
        return status;
    return guarded(ctx, kName, VARNOK_ERR_FAILED, [&]() -> int {
        std::ostringstream log;
        const std::vector<Contingency> list = ContingencyAnalysis().generate_n1(
            ctx->network, branches != 0, generators != 0, svcs != 0);
        return run_contingencies(ctx, list, log, vmin, vmax, max_loading_pct, max_drop);
    });
}

int varnok_get_contingency_count(VarnokContext* ctx) {
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    return static_cast<int>(ctx->contingency_results.size());
}

int varnok_get_contingency_name(VarnokContext* ctx, int index, char* buffer, int capacity) {
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    const auto* r = result_at(ctx, "varnok_get_contingency_name", index);
    if (!r) return VARNOK_ERR_OUT_OF_RANGE;
    return copy_name(ctx, r->name, buffer, capacity);
}

int varnok_get_contingency_result(VarnokContext* ctx, int index, int* converged, int* accepted,
                                  double* min_voltage, double* max_voltage,
                                  double* max_loading_pct) {
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    const auto* r = result_at(ctx, "varnok_get_contingency_result", index);
    if (!r) return VARNOK_ERR_OUT_OF_RANGE;
    if (converged) *converged = r->converged ? 1 : 0;
    if (accepted) *accepted = r->accepted ? 1 : 0;
    if (min_voltage) *min_voltage = r->min_voltage;
    if (max_voltage) *max_voltage = r->max_voltage;
    if (max_loading_pct) *max_loading_pct = r->max_loading;
    return VARNOK_OK;
}

int varnok_get_contingency_extremes(VarnokContext* ctx, int index, char* min_voltage_bus,
                                    char* max_voltage_bus, char* max_loading_branch,
                                    int capacity) {
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    const auto* r = result_at(ctx, "varnok_get_contingency_extremes", index);
    if (!r) return VARNOK_ERR_OUT_OF_RANGE;
    const std::pair<const std::string*, char*> copies[] = {{&r->min_voltage_bus, min_voltage_bus},
                                                           {&r->max_voltage_bus, max_voltage_bus},
                                                           {&r->max_loading_branch,
                                                            max_loading_branch}};
    for (const auto& [name, buffer] : copies) {
        if (!buffer) continue;
        if (const int status = copy_name(ctx, *name, buffer, capacity)) return status;
    }
    return VARNOK_OK;
}

int varnok_get_contingency_violation_count(VarnokContext* ctx, int index) {
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    const auto* r = result_at(ctx, "varnok_get_contingency_violation_count", index);
    if (!r) return VARNOK_ERR_OUT_OF_RANGE;
    return static_cast<int>(r->violations.size());
}

int varnok_get_contingency_violation(VarnokContext* ctx, int index, int violation, char* buffer,
                                     int capacity) {
    static constexpr const char* kName = "varnok_get_contingency_violation";
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    const auto* r = result_at(ctx, kName, index);
    if (!r) return VARNOK_ERR_OUT_OF_RANGE;
    if (violation < 0 || static_cast<std::size_t>(violation) >= r->violations.size())
        return bad_index(ctx, kName, violation);
    return copy_name(ctx, r->violations[static_cast<std::size_t>(violation)], buffer, capacity);
}

}  // extern "C"
