// Counts the allocations made through operator new between start() and stop(). The test program
// replaces the global operator new (allocation_counter.cpp); the tests run on one thread.
#pragma once

namespace varnok {

class AllocationCounter {
public:
    void start();
    long stop();  // the allocations since start()
};

}  // namespace varnok
