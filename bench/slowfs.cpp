// A slow file system to measure on, not a part of the program: a read-only FUSE mirror of SOURCE at
// MOUNTPOINT that waits a fixed time in every lookup, getattr, opendir and readdir, as a network share waits
// for its server. Nothing is cached by the kernel, so every run pays the same round trips. Each request is
// served on a thread of its own, so that the daemon is never what limits the calls in flight.
// On SIGUSR1 it writes what it served since the last report to stderr: the calls, the most in flight at
// once, the mean in flight while any was, the mean time of a call and its own processor time. With
// --sample-ms N it also writes, every N ms, the calls in flight at that moment and the calls begun so far, so
// that two walks can be compared over time rather than by their means alone.
// Usage: slowfs [--sample-ms N] --latency-ms MS SOURCE MOUNTPOINT   (runs until unmounted, or SIGINT / SIGTERM)
#define FUSE_USE_VERSION 314
#include <fuse.h>

#include <dirent.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

std::string g_source;
std::chrono::nanoseconds g_latency{0};

// What the daemon served since the last report.
struct Served {
    std::atomic<long> lookups{0}, opendirs{0}, readdirs{0};
    std::atomic<int> inFlight{0}, peakInFlight{0};
    std::atomic<long> begun{0};  // since the daemon started, never reset
    std::mutex mutex;  // guards the times below
    Clock::duration callTime{};      // summed over calls
    Clock::duration anyInFlight{};   // wall time with at least one call in flight
    Clock::time_point since = Clock::now(), busySince{};
} g_served;

// One delayed call: counted in flight from its start to its end.
class Call {
public:
    explicit Call(std::atomic<long>& counter) : start_(Clock::now())
    {
        counter.fetch_add(1, std::memory_order_relaxed);
        g_served.begun.fetch_add(1, std::memory_order_relaxed);
        const int now = g_served.inFlight.fetch_add(1) + 1;
        int peak = g_served.peakInFlight.load();
        while (now > peak && !g_served.peakInFlight.compare_exchange_weak(peak, now)) {
        }
        if (now == 1) {
            std::lock_guard lock(g_served.mutex);
            g_served.busySince = start_;
        }
        std::this_thread::sleep_for(g_latency);
    }
    ~Call()
    {
        const Clock::time_point end = Clock::now();
        std::lock_guard lock(g_served.mutex);
        g_served.callTime += end - start_;
        if (g_served.inFlight.fetch_sub(1) == 1)
            g_served.anyInFlight += end - std::max(g_served.busySince, g_served.since);
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

private:
    Clock::time_point start_;
};

double CpuSeconds()
{
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void Report(double& cpuSince)
{
    std::lock_guard lock(g_served.mutex);
    const Clock::time_point now = Clock::now();
    const double wall = std::chrono::duration<double>(now - g_served.since).count();
    const double busy = std::chrono::duration<double>(g_served.anyInFlight).count();
    const double calls = std::chrono::duration<double>(g_served.callTime).count();
    const double cpu = CpuSeconds();
    const long callCount = g_served.lookups + g_served.opendirs + g_served.readdirs;
    std::fprintf(stderr,
                 "slowfs: lookup+getattr=%ld opendir=%ld readdir=%ld peak_in_flight=%d mean_in_flight=%.1f "
                 "mean_call_ms=%.3f wall=%.3f cpu=%.3f\n",
                 g_served.lookups.exchange(0), g_served.opendirs.exchange(0), g_served.readdirs.exchange(0),
                 g_served.peakInFlight.exchange(g_served.inFlight.load()), busy > 0 ? calls / busy : 0.0,
                 callCount > 0 ? calls * 1e3 / callCount : 0.0, wall,
                 cpu - cpuSince);
    cpuSince = cpu;
    g_served.callTime = {};
    g_served.anyInFlight = {};
    g_served.since = now;
}

std::string Source(const char* path)
{
    return g_source + path;
}

int GetAttr(const char* path, struct stat* status, fuse_file_info*)
{
    Call call(g_served.lookups);  // the high-level interface answers lookups here too
    return lstat(Source(path).c_str(), status) == 0 ? 0 : -errno;
}

int ReadLink(const char* path, char* buffer, size_t size)
{
    const ssize_t length = readlink(Source(path).c_str(), buffer, size - 1);
    if (length < 0)
        return -errno;
    buffer[length] = '\0';
    return 0;
}

int OpenDir(const char* path, fuse_file_info* file)
{
    Call call(g_served.opendirs);
    DIR* dir = opendir(Source(path).c_str());
    if (!dir)
        return -errno;
    file->fh = reinterpret_cast<uint64_t>(dir);
    return 0;
}

// The whole directory in one call, as a share answers one listing request.
int ReadDir(const char*, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info* file, fuse_readdir_flags)
{
    Call call(g_served.readdirs);
    DIR* dir = reinterpret_cast<DIR*>(file->fh);
    rewinddir(dir);
    while (const dirent* entry = readdir(dir)) {
        struct stat status {};
        status.st_ino = entry->d_ino;
        status.st_mode = static_cast<mode_t>(DTTOIF(entry->d_type));
        if (fill(buffer, entry->d_name, &status, 0, static_cast<fuse_fill_dir_flags>(0)))
            break;
    }
    return 0;
}

int ReleaseDir(const char*, fuse_file_info* file)
{
    closedir(reinterpret_cast<DIR*>(file->fh));
    return 0;
}

int StatFs(const char*, struct statvfs* status)
{
    return statvfs(g_source.c_str(), status) == 0 ? 0 : -errno;
}

void* Init(fuse_conn_info*, fuse_config* config)
{
    config->entry_timeout = 0;
    config->attr_timeout = 0;
    config->negative_timeout = 0;
    config->use_ino = 1;
    return nullptr;
}

// Every period, the calls in flight and those begun since the daemon started, on a line of their own.
void Sample(std::chrono::milliseconds period)
{
    const Clock::time_point start = Clock::now();
    for (Clock::time_point next = start + period;; next += period) {
        std::this_thread::sleep_until(next);
        const long begun = g_served.begun.load(std::memory_order_relaxed);
        std::fprintf(stderr, "slowfs-sample: ms=%lld in_flight=%d begun=%ld\n",
                     static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(next - start).count()),
                     g_served.inFlight.load(std::memory_order_relaxed), begun);
    }
}

int Usage()
{
    std::fprintf(stderr, "usage: slowfs [--sample-ms N] --latency-ms MS SOURCE MOUNTPOINT\n");
    return 2;
}

// A number of milliseconds given on the command line, or -1.
double Milliseconds(const char* text)
{
    char* end = nullptr;
    const double ms = std::strtod(text, &end);
    return *end == '\0' && ms >= 0 ? ms : -1;
}

}  // namespace

int main(int argc, char** argv)
{
    double sampleMs = 0;
    if (argc == 7 && std::strcmp(argv[1], "--sample-ms") == 0) {
        sampleMs = Milliseconds(argv[2]);
        argv += 2;
        argc -= 2;
        if (sampleMs < 1)
            return Usage();
    }
    if (argc != 5 || std::strcmp(argv[1], "--latency-ms") != 0)
        return Usage();
    const double latencyMs = Milliseconds(argv[2]);
    if (latencyMs < 0)
        return Usage();
    g_latency = std::chrono::nanoseconds(static_cast<long long>(latencyMs * 1e6));
    char* source = realpath(argv[3], nullptr);
    if (!source) {
        std::perror(argv[3]);
        return 1;
    }
    g_source = std::string(source) == "/" ? "" : source;
    std::free(source);
    // Sleeps end on time rather than up to 50 µs late; every thread started later inherits it.
    prctl(PR_SET_TIMERSLACK, 1UL);

    // Reports are asked for with SIGUSR1, taken by a thread of their own.
    sigset_t reportSignal;
    sigemptyset(&reportSignal);
    sigaddset(&reportSignal, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &reportSignal, nullptr);
    std::thread([reportSignal] {
        double cpuSince = CpuSeconds();
        for (int signal = 0; sigwait(&reportSignal, &signal) == 0;)
            Report(cpuSince);
    }).detach();
    if (sampleMs > 0)
        std::thread(Sample, std::chrono::milliseconds(static_cast<long long>(sampleMs))).detach();

    fuse_operations operations{};
    operations.getattr = GetAttr;
    operations.readlink = ReadLink;
    operations.opendir = OpenDir;
    operations.readdir = ReadDir;
    operations.releasedir = ReleaseDir;
    operations.statfs = StatFs;
    operations.init = Init;

    char program[] = "slowfs", option[] = "-o", options[] = "ro,fsname=slowfs,subtype=slowfs";
    char* arguments[] = {program, option, options, nullptr};
    fuse_args args = FUSE_ARGS_INIT(3, arguments);
    fuse* fs = fuse_new(&args, &operations, sizeof operations, nullptr);
    if (!fs)
        return 1;
    int status = 1;
    if (fuse_mount(fs, argv[4]) == 0) {
        if (fuse_set_signal_handlers(fuse_get_session(fs)) == 0) {
            fuse_loop_config* config = fuse_loop_cfg_create();
            // A thread per request in flight, kept when idle: the daemon never queues a call.
            fuse_loop_cfg_set_max_threads(config, 10000);
            fuse_loop_cfg_set_idle_threads(config, 10000);
            status = fuse_loop_mt(fs, config) == 0 ? 0 : 1;
            fuse_loop_cfg_destroy(config);
            fuse_remove_signal_handlers(fuse_get_session(fs));
        }
        fuse_unmount(fs);
    }
    fuse_destroy(fs);
    return status;
}
