// A context of the C interface owned by a test: created with the object, destroyed with it.
#pragma once

#include <string>

#include "varnok_api.h"

namespace api_test {

struct ContextHandle {
    VarnokContext* ctx = varnok_create();

    ContextHandle() = default;
    ~ContextHandle() { varnok_destroy(ctx); }
    ContextHandle(const ContextHandle&) = delete;
    ContextHandle& operator=(const ContextHandle&) = delete;

    std::string error() const { return varnok_get_last_error(ctx); }
};

}  // namespace api_test
