#pragma once
// A small tmpfs of a test's own, seen only by the test's process and unmounted at the end.

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace murako::fakes {

class SmallVolume {
public:
    // Mounted in a mount namespace of the process's own, so that a test that dies leaves no mount behind.
    SmallVolume(const std::string& at, const char* options) : at_(at)
    {
        if (geteuid() != 0 || unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return;
        mounted_ = mount("tmpfs", at.c_str(), "tmpfs", 0, options) == 0;
    }
    ~SmallVolume()
    {
        if (mounted_) {
            EXPECT_EQ(umount(at_.c_str()), 0);
        }
    }
    SmallVolume(const SmallVolume&) = delete;
    SmallVolume& operator=(const SmallVolume&) = delete;

    bool Mounted() const { return mounted_; }
    void MakeReadOnly() { mounted_ = mount(nullptr, at_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0; }
    int64_t FreeBytes() const
    {
        struct statvfs volume {};
        return statvfs(at_.c_str(), &volume) == 0 ? static_cast<int64_t>(volume.f_bavail) * volume.f_frsize : -1;
    }
    // Fills the volume with a file of that name until only free bytes are left; false when it cannot.
    bool FillLeaving(const std::string& name, int64_t free)
    {
        const int64_t size = FreeBytes() - free;
        const int fd = open((at_ + "/" + name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (size < 0 || fd < 0)
            return false;
        const std::vector<char> filler(static_cast<size_t>(size), 'f');
        const bool written = write(fd, filler.data(), filler.size()) == size;
        return close(fd) == 0 && written && FreeBytes() == free;
    }

private:
    std::string at_;
    bool mounted_ = false;
};

}  // namespace murako::fakes
