// A measure of what the disk can give, not a part of the program: THREADS threads share a queue of
// directories, list each with getdents64, open its subdirectories with openat and query every other
// entry's length with fstatat. Prints the sum of the lengths, which must equal the program's total.
// Paths must stay under PATH_MAX.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

class Probe {
public:
    explicit Probe(std::string root) { queue_.push_back(std::move(root)); }

    void Work()
    {
        std::vector<char> buffer(32 * 1024);
        int64_t bytes = 0;
        std::string path;
        while (Next(path)) {
            const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            std::vector<std::string> subdirectories;
            while (fd >= 0) {
                const long read = syscall(SYS_getdents64, fd, buffer.data(), buffer.size());
                if (read <= 0)
                    break;
                for (long offset = 0; offset < read;) {
                    const auto* entry = reinterpret_cast<const dirent64*>(buffer.data() + offset);
                    offset += entry->d_reclen;
                    const std::string_view name(entry->d_name);
                    if (name == "." || name == "..")
                        continue;
                    struct stat status;
                    if (entry->d_type == DT_DIR)
                        subdirectories.push_back(path + "/" + entry->d_name);
                    else if (fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0)
                        bytes += status.st_size;
                }
            }
            if (fd >= 0)
                close(fd);
            Done(std::move(subdirectories));
        }
        total_ += bytes;
    }

    int64_t Total() const { return total_; }

private:
    bool Next(std::string& path)
    {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return !queue_.empty() || busy_ == 0; });
        if (queue_.empty())
            return false;
        // Depth first, as a walk goes, so the queue stays small.
        path = std::move(queue_.back());
        queue_.pop_back();
        ++busy_;
        return true;
    }

    void Done(std::vector<std::string> subdirectories)
    {
        {
            std::lock_guard lock(mutex_);
            for (std::string& subdirectory : subdirectories)
                queue_.push_back(std::move(subdirectory));
            --busy_;
        }
        ready_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::string> queue_;
    int busy_ = 0;
    std::atomic<int64_t> total_{0};
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: disk-probe THREADS DIR\n");
        return 2;
    }
    const int threads = std::atoi(argv[1]);
    const auto start = std::chrono::steady_clock::now();
    Probe probe(argv[2]);
    std::vector<std::thread> workers;
    for (int i = 0; i < threads; ++i)
        workers.emplace_back([&probe] { probe.Work(); });
    for (std::thread& worker : workers)
        worker.join();
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    std::printf("total_bytes=%lld seconds=%.3f\n", static_cast<long long>(probe.Total()), seconds.count());
    return 0;
}
