#pragma once
// Fake trees that a kept tree must hold as a search of them shows them.

#include <string>

#include "fake_run.h"
#include "search_scope.h"

namespace murako::fakes {

// Unread places of every kind, a pseudo file system, a loop, empty directories and names that begin alike.
inline void UnreadPlacesTree(FakeFileSystem& fs)
{
    fs.File("/base/r1", 7).File("/base/r2", 9);
    fs.File("/base/a/x", 10).File("/base/a/y", 11).File("/base/a/ok/f", 5).Dir("/base/a/deep/locked");
    fs.At("/base/a/y").lengthFails = true;
    fs.At("/base/a/deep/locked").unlistable = true;
    fs.File("/base/b/f1", 3).File("/base/b/f2", 4).Dir("/base/b/sub").File("/base/b/sub/g", 1);
    fs.At("/base/b").listingFailsAfter = 3;  // ".", ".." and f1
    fs.Dir("/base/proc").File("/base/proc/1", 100);
    fs.At("/base/proc").pseudo = true;
    fs.Dir("/base/c/again").File("/base/c/again/h", 2);
    fs.At("/base").identity = DirectoryIdentity{1, 1};
    fs.At("/base/c/again").identity = DirectoryIdentity{1, 1};
    fs.Dir("/base/e").Dir("/base/e e").File("/base/ee/z", 1).Dir("/base/a/ok/empty");
}

// Wide at the top, a chain below one row, so that the walk's threads meet and part everywhere.
inline void WideAndDeepTree(FakeFileSystem& fs)
{
    for (int i = 0; i < 24; ++i) {
        const std::string top = "/base/d" + std::to_string(i);
        fs.File(top + "/f", i + 1);
        for (int j = 0; j < i % 4; ++j)
            fs.File(top + "/s" + std::to_string(j) + "/g", 1000 * j + i);
    }
    std::string chain = "/base/chain";
    for (int level = 0; level < 60; ++level) {
        chain += "/l";
        fs.File(chain + "/f", level);
    }
}

// Files of several links, one pair in one directory and one across two rows, and space on disk that differs
// from the lengths: sparse, and rounded up to blocks.
inline void LinkedTree(FakeFileSystem& fs)
{
    fs.File("/base/own", 10).File("/base/a/p", 4096).File("/base/a/q", 4096).File("/base/b/r", 1 << 20);
    fs.File("/base/c/s", 4096).File("/base/b/t", 5);
    fs.At("/base").onDisk = 4096;
    fs.At("/base/own").onDisk = 4096;
    for (const char* path : {"/base/a/p", "/base/a/q"}) {
        fs.At(path).onDisk = 4096;
        fs.At(path).inode = 77;
    }
    fs.At("/base/b/r").onDisk = 8192;  // sparse
    for (const char* path : {"/base/c/s", "/base/b/t"}) {
        fs.At(path).onDisk = 4096;
        fs.At(path).inode = 88;
    }
}

// What ScopedTree's search leaves out: two patterns, caches, and other file systems.
inline SearchScope ScopedTreeScope()
{
    return {true, true, {"*.o", "node_modules"}};
}

// Names the scope's patterns leave out at every depth, a row and a deeper directory on other file systems (one
// of a type the mounts name), and a directory of caches beside a file that only names itself so.
inline void ScopedTree(FakeFileSystem& fs)
{
    fs.File("/base/r.o", 7).File("/base/r.c", 9);
    fs.File("/base/a/x.o", 10).File("/base/a/keep", 11).File("/base/a/sub/y.o", 5).File("/base/a/sub/z", 6);
    fs.File("/base/a/node_modules/m/f", 100).File("/base/a/sub/node_modules", 3);
    fs.File("/base/mnt/far", 1000).File("/base/a/sub/nas/f", 2000);
    fs.File("/base/cache/CACHEDIR.TAG", 43).File("/base/cache/blob", 5000);
    fs.At("/base/cache/CACHEDIR.TAG").text = std::string(kCacheTagSignature) + "\n";
    fs.File("/base/b/CACHEDIR.TAG", 4).File("/base/b/f", 1);
    fs.At("/base/b/CACHEDIR.TAG").text = "none";
    uint64_t inode = 1;
    for (const char* dir : {"/base", "/base/a", "/base/a/sub", "/base/a/node_modules", "/base/a/node_modules/m",
                            "/base/cache", "/base/b"})
        fs.At(dir).identity = DirectoryIdentity{1, inode++};
    fs.At("/base/mnt").identity = DirectoryIdentity{2, 1};
    fs.At("/base/a/sub/nas").identity = DirectoryIdentity{3, 1};
    fs.mountedTypes = {{2, "nfs4"}};
}

}  // namespace murako::fakes
