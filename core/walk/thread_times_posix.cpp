#include "thread_times.h"

#include <fcntl.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <ctime>

namespace murako {

// The calling thread's time on a processor, and its time waiting for one as the kernel counts it (0 where it
// does not tell). The kernel's count of the processor time lags behind a running thread; its clock does not.
SpentTime ThreadTimes()
{
    SpentTime spent;
    timespec processor{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &processor);
    spent.running = processor.tv_sec * 1'000'000'000LL + processor.tv_nsec;
    const int fd = open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char text[96];
        const ssize_t read = pread(fd, text, sizeof text - 1, 0);
        close(fd);
        int64_t counted = 0;  // the lagging processor time
        if (read > 0) {
            text[read] = '\0';
            if (std::sscanf(text, "%" SCNd64 " %" SCNd64, &counted, &spent.waiting) != 2)
                spent.waiting = 0;
        }
    }
    return spent;
}

}  // namespace murako
