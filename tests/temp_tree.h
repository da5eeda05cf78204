#pragma once
// A temporary directory tree for tests, removed with everything in it however deep it grows.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace murako::fakes {

// The names in the open directory fd in listing order, "." and ".." left out.
inline std::vector<std::string> NamesIn(int fd)
{
    std::vector<std::string> names;
    DIR* listing = fdopendir(dup(fd));
    if (!listing)
        return names;
    rewinddir(listing);  // the duplicate shares fd's position, which an earlier listing left at the end
    while (const dirent* entry = readdir(listing))
        if (std::string_view(entry->d_name) != "." && std::string_view(entry->d_name) != "..")
            names.push_back(entry->d_name);
    closedir(listing);
    return names;
}

inline std::vector<std::string> ListingOrder(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::vector<std::string> names = NamesIn(fd);
    close(fd);
    return names;
}

// Removes a tree of any depth with two handles at most: subdirectories are hoisted up before removal,
// because remove_all fails past PATH_MAX.
inline void RemoveTree(const std::string& path)
{
    const int top = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (top < 0)
        return;
    int hoisted = 0;
    bool again = true;
    while (again) {
        again = false;
        for (const std::string& name : NamesIn(top)) {
            struct stat status;
            if (fstatat(top, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(status.st_mode)) {
                unlinkat(top, name.c_str(), 0);
                continue;
            }
            // Best effort: what stays unwritable is what the caller reports as left.
            std::ignore = fchmodat(top, name.c_str(), 0755, 0);
            const int dir = openat(top, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            for (const std::string& innerName : NamesIn(dir)) {
                if (unlinkat(dir, innerName.c_str(), 0) != 0) {
                    // A directory moves to another parent only when it may be written; one that still cannot
                    // move ends the removal rather than looping, and the caller reports what is left.
                    std::ignore = fchmodat(dir, innerName.c_str(), 0755, 0);
                    if (renameat(dir, innerName.c_str(), top, ("hoisted" + std::to_string(hoisted++)).c_str()) == 0)
                        again = true;
                }
            }
            close(dir);
            unlinkat(top, name.c_str(), AT_REMOVEDIR);
        }
    }
    close(top);
    rmdir(path.c_str());
}

// Makes the directory name below the open directory fd and enters it: fd becomes its descriptor, -1 when it
// cannot be opened.
inline void MakeAndEnter(int& fd, const std::string& name)
{
    EXPECT_EQ(mkdirat(fd, name.c_str(), 0755), 0) << name;
    const int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(fd);
    fd = next;
}

// Where a tree of tens of thousands of directories is made in memory rather than on a disk that other
// programs keep busy: what a walk does with them does not depend on the disk, and making them there takes
// a tenth of the time.
inline std::filesystem::path MemoryTempDirectory()
{
    std::error_code error;
    return std::filesystem::is_directory("/dev/shm", error) ? std::filesystem::path("/dev/shm")
                                                            : std::filesystem::temp_directory_path();
}

class TempTree {
public:
    // Adopts an existing tree without removing it when given one (a child process walking its parent's).
    explicit TempTree(const char* existing = nullptr, const std::filesystem::path& under = std::filesystem::temp_directory_path())
        : owned_(existing == nullptr)
    {
        if (existing) {
            root_ = existing;
            return;
        }
        std::string pattern = (under / "murako-test-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            root_ = pattern;
        else
            ADD_FAILURE() << "cannot create a temporary directory";
    }
    ~TempTree()
    {
        if (!owned_)
            return;
        RemoveTree(root_);
        struct stat status;
        if (lstat(root_.c_str(), &status) == 0)
            ADD_FAILURE() << root_ << " was left behind";
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const std::string& Root() const { return root_; }
    std::string Path(const std::string& relative) const { return root_ + "/" + relative; }
    void Dir(const std::string& relative) const { std::filesystem::create_directories(Path(relative)); }
    // A file of the given length, sparse, with its parent directories.
    void File(const std::string& relative, off_t length) const
    {
        std::filesystem::create_directories(std::filesystem::path(Path(relative)).parent_path());
        const int fd = open(Path(relative).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0) << relative;
        EXPECT_EQ(ftruncate(fd, length), 0) << relative;
        close(fd);
    }

    // A chain of directories each named component, levels deep below relative, the deepest holding a file
    // "f" of the given length; returns the deepest's path, which may be far longer than PATH_MAX.
    std::string Chain(const std::string& relative, int levels, const std::string& component, off_t length) const
    {
        Dir(relative);
        int fd = open(Path(relative).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        std::string path = Path(relative);
        for (int i = 0; i < levels && fd >= 0; ++i) {
            MakeAndEnter(fd, component);
            path += "/" + component;
        }
        EXPECT_GE(fd, 0);
        const int file = openat(fd, "f", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        EXPECT_EQ(ftruncate(file, length), 0);
        close(file);
        close(fd);
        return path;
    }

private:
    bool owned_;
    std::string root_;
};

}  // namespace murako::fakes
