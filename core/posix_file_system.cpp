#include "posix_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>

namespace murako {

namespace {

constexpr size_t kListingBufferSize = 32 * 1024;

// Devices whose mount-table type is a pseudo file system; devtmpfs, for one, reports tmpfs's magic.
std::set<dev_t> PseudoDevicesFromMountTable()
{
    std::set<dev_t> devices;
    std::ifstream mountInfo("/proc/self/mountinfo");
    std::string line;
    while (std::getline(mountInfo, line)) {
        // id parent major:minor root mountpoint options [optional fields] - type source super-options
        std::istringstream fields(line);
        std::string id, parent, majorMinor, field;
        fields >> id >> parent >> majorMinor;
        while (fields >> field && field != "-") {
        }
        std::string type;
        fields >> type;
        unsigned major = 0, minor = 0;
        if (IsPseudoFileSystemType(type) && std::sscanf(majorMinor.c_str(), "%u:%u", &major, &minor) == 2)
            devices.insert(makedev(major, minor));
    }
    return devices;
}

const std::set<dev_t>& PseudoDevices()
{
    static const std::set<dev_t> devices = PseudoDevicesFromMountTable();
    return devices;
}

bool IsPseudoDirectory(int fd, dev_t device)
{
    struct statfs fileSystem;
    if (fstatfs(fd, &fileSystem) == 0 && IsPseudoFileSystem(static_cast<long>(fileSystem.f_type)))
        return true;
    return PseudoDevices().count(device) != 0;
}

// A directory on a pseudo file system: not entered, so it lists nothing.
class EmptyDirectory : public Directory {
public:
    bool NextName(std::string_view&) override { return false; }
    ReadFailure ListingFailure() const override { return ReadFailure::None; }
    EntryKind Kind() override { return EntryKind::Unknown; }
    std::optional<int64_t> Length(ReadFailure& failure) override { return LengthOf({}, failure); }
    std::optional<int64_t> LengthOf(std::string_view, ReadFailure& failure) override
    {
        failure = ReadFailure::Other;
        return std::nullopt;
    }
    std::unique_ptr<Directory> OpenSubdirectory(std::string_view, ReadFailure& failure) override
    {
        failure = ReadFailure::Other;
        return nullptr;
    }
};

class PosixDirectory : public Directory {
public:
    PosixDirectory(int fd, dev_t device) : fd_(fd), device_(device) {}
    ~PosixDirectory() override { close(fd_); }
    PosixDirectory(const PosixDirectory&) = delete;
    PosixDirectory& operator=(const PosixDirectory&) = delete;

    // Opens fd as a directory, or closes it and gives what the walk should see instead.
    static std::unique_ptr<Directory> Adopt(int fd, dev_t parentDevice, ReadFailure& failure)
    {
        struct stat status;
        if (fstat(fd, &status) != 0) {
            failure = ReadFailureFromErrno(errno);
            close(fd);
            return nullptr;
        }
        // Only a directory on another device than its parent can be the root of a pseudo file system.
        if (status.st_dev != parentDevice && IsPseudoDirectory(fd, status.st_dev)) {
            close(fd);
            return std::make_unique<EmptyDirectory>();
        }
        return std::make_unique<PosixDirectory>(fd, status.st_dev);
    }

    bool NextName(std::string_view& name) override
    {
        statDone_ = false;
        if (position_ >= filled_) {
            if (finished_)
                return false;
            if (!buffer_)
                buffer_ = std::make_unique<char[]>(kListingBufferSize);
            const long read = syscall(SYS_getdents64, fd_, buffer_.get(), kListingBufferSize);
            if (read <= 0) {
                // The end, or a failure in the middle: either way this listing is over.
                if (read < 0)
                    listingFailure_ = ReadFailureFromErrno(errno);
                finished_ = true;
                buffer_.reset();
                return false;
            }
            filled_ = static_cast<size_t>(read);
            position_ = 0;
        }
        current_ = reinterpret_cast<const dirent64*>(buffer_.get() + position_);
        position_ += current_->d_reclen;
        name = std::string_view(current_->d_name);
        return true;
    }

    ReadFailure ListingFailure() const override { return listingFailure_; }

    EntryKind Kind() override
    {
        switch (current_->d_type) {
        case DT_DIR:
            return EntryKind::Directory;
        case DT_UNKNOWN:
            if (!StatCurrent())
                return EntryKind::Unknown;
            return S_ISDIR(status_.st_mode) ? EntryKind::Directory : EntryKind::NotDirectory;
        default:
            return EntryKind::NotDirectory;
        }
    }

    std::optional<int64_t> Length(ReadFailure& failure) override
    {
        if (!StatCurrent()) {
            failure = statFailure_;
            return std::nullopt;
        }
        return static_cast<int64_t>(status_.st_size);
    }

    std::optional<int64_t> LengthOf(std::string_view name, ReadFailure& failure) override
    {
        const std::string terminated(name);
        struct stat status;
        if (fstatat(fd_, terminated.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
            failure = ReadFailureFromErrno(errno);
            return std::nullopt;
        }
        return static_cast<int64_t>(status.st_size);
    }

    std::unique_ptr<Directory> OpenSubdirectory(std::string_view name, ReadFailure& failure) override
    {
        const std::string terminated(name);
        const int fd = openat(fd_, terminated.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            failure = ReadFailureFromErrno(errno);
            return nullptr;
        }
        return Adopt(fd, device_, failure);
    }

private:
    bool StatCurrent()
    {
        if (!statDone_) {
            statDone_ = true;
            statOk_ = fstatat(fd_, current_->d_name, &status_, AT_SYMLINK_NOFOLLOW) == 0;
            statFailure_ = statOk_ ? ReadFailure::None : ReadFailureFromErrno(errno);
        }
        return statOk_;
    }

    int fd_;
    dev_t device_;
    std::unique_ptr<char[]> buffer_;
    size_t filled_ = 0;
    size_t position_ = 0;
    bool finished_ = false;
    ReadFailure listingFailure_ = ReadFailure::None;
    const dirent64* current_ = nullptr;
    struct stat status_;
    bool statDone_ = false;
    bool statOk_ = false;
    ReadFailure statFailure_ = ReadFailure::None;
};

// A deep or wide walk holds a handle per level with pending subdirectories: allow as many as the system does.
void RaiseOpenFileLimit()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct rlimit limit;
        if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
            limit.rlim_cur = limit.rlim_max;
            setrlimit(RLIMIT_NOFILE, &limit);
        }
    });
}

}  // namespace

std::unique_ptr<Directory> PosixFileSystem::Open(const std::string& path, ReadFailure& failure)
{
    RaiseOpenFileLimit();
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        failure = ReadFailureFromErrno(errno);
        return nullptr;
    }
    return PosixDirectory::Adopt(fd, static_cast<dev_t>(-1), failure);
}

bool IsPseudoFileSystem(long fileSystemMagic)
{
    static constexpr std::array<unsigned long, 17> kMagics{
        0x9fa0,      // proc
        0x62656572,  // sysfs
        0x1cd1,      // devpts
        0x27e0eb,    // cgroup
        0x63677270,  // cgroup2
        0x64626720,  // debugfs
        0x74726163,  // tracefs
        0x73636673,  // securityfs
        0x6165676c,  // pstore
        0xcafe4a11,  // bpf
        0x62656570,  // configfs
        0x65735543,  // fusectl
        0x19800202,  // mqueue
        0x958458f6,  // hugetlbfs
        0x42494e4d,  // binfmt_misc
        0xde5e81e4,  // efivarfs
        0x0187,      // autofs
    };
    const auto magic = static_cast<unsigned long>(fileSystemMagic) & 0xffffffffUL;
    for (unsigned long candidate : kMagics)
        if (candidate == magic)
            return true;
    return false;
}

bool IsPseudoFileSystemType(std::string_view typeName)
{
    static constexpr std::array<std::string_view, 18> kTypes{
        "proc",    "sysfs",    "devtmpfs", "devpts", "cgroup",    "cgroup2",     "debugfs",  "tracefs",
        "securityfs", "pstore", "bpf",     "configfs", "fusectl",   "mqueue",      "hugetlbfs", "binfmt_misc",
        "efivarfs", "autofs",
    };
    for (std::string_view candidate : kTypes)
        if (candidate == typeName)
            return true;
    return false;
}

std::string DisplayName(std::string_view bytes)
{
    static const char kReplacement[] = "\xEF\xBF\xBD";
    std::string text;
    text.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;  // the range of the second byte, narrowed for some leads
        if (lead < 0x80)
            length = 1;
        else if (lead >= 0xC2 && lead <= 0xDF)
            length = 2;
        else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0)
                low = 0xA0;
            if (lead == 0xED)
                high = 0x9F;  // no surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0)
                low = 0x90;
            if (lead == 0xF4)
                high = 0x8F;
        }
        bool valid = length > 0 && i + length <= bytes.size();
        for (size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            valid = k == 1 ? (next >= low && next <= high) : (next >= 0x80 && next <= 0xBF);
        }
        if (valid) {
            text.append(bytes.substr(i, length));
            i += length;
        } else {
            text += kReplacement;
            ++i;
        }
    }
    return text;
}

}  // namespace murako
