#pragma once

#include <cstdint>

namespace murako {

// Time spent on a stretch of work, in nanoseconds.
struct SpentTime {
    int64_t wall = 0;
    int64_t running = 0;  // on a processor
    int64_t waiting = 0;  // runnable, waiting for a processor
};

// The calling thread's time on a processor so far, and its time waiting for one where the system counts it
// (0 elsewhere): the walk tells blocking from computing by them. One file per platform.
SpentTime ThreadTimes();

}  // namespace murako
