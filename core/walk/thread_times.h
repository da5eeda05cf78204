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

// Whether a thread's time on a processor is counted finely enough to tell apart stretches of a fraction of a
// millisecond: Windows counts it by the clock's ticks, so that a short stretch there reads as all waiting.
#ifdef _WIN32
inline constexpr bool kThreadTimesFine = false;
#else
inline constexpr bool kThreadTimesFine = true;
#endif

}  // namespace murako
