#include "thread_times.h"

#include <windows.h>

namespace murako {

// Windows counts no time spent waiting for a processor, so only the time on one is told.
SpentTime ThreadTimes()
{
    SpentTime spent;
    FILETIME created, exited, kernel, user;
    if (GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) {
        auto hundredNanoseconds = [](const FILETIME& time) {
            return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
        };
        spent.running = (hundredNanoseconds(kernel) + hundredNanoseconds(user)) * 100;
    }
    return spent;
}

}  // namespace murako
