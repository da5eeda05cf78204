// A directory that is one of its own ancestors, with no mount between them, as a mirror of a tree holding a
// bind of its own root shows it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_run.h"

namespace murako {
namespace {

using fakes::FakeFileSystem;

// The rows of a serial search, and what the total row says could not be read.
std::vector<std::string> RowsAndUnread(std::shared_ptr<FakeFileSystem> fs)
{
    ResultsTable table;
    std::vector<std::string> rows = fakes::SearchRows(table, std::move(fs), "/base", 1);
    for (const UnreadPlaces::Place& place : table.Facts(table.Rows() - 1).unread.first)
        rows.push_back(place.path + " " + (place.failure == ReadFailure::Loop ? "loop" : "other"));
    return rows;
}

// Near the base, and a chain deep below it, where another way of looking applies.
TEST(LoopGuard, ADirectoryWithItsAncestorsIdentityIsALoopWithNoMountBetween)
{
    for (const int depth : {1, 40}) {
        auto fs = std::make_shared<FakeFileSystem>();
        fs->File("/base/own", 3).File("/base/side/f", 4);
        fs->At("/base").identity = DirectoryIdentity{7, 1};
        fs->At("/base/side").identity = DirectoryIdentity{7, 2};
        std::string path = "/base/m";
        for (int level = 0; level < depth; ++level, path += "/c") {
            fs->File(path + "/f", 1);
            fs->At(path).identity = DirectoryIdentity{7, 10 + static_cast<uint64_t>(level)};
        }
        fs->File(path + "/f", 1000);  // the mirror's view of the base again: counted once, above
        fs->At(path).identity = DirectoryIdentity{7, 1};
        EXPECT_EQ(RowsAndUnread(fs), (std::vector<std::string>{"1 [Root Files] 3", "2 side 4",
                                                               "3 m " + std::to_string(depth), "4 /base/合計 " +
                                                               std::to_string(7 + depth), path + " loop"}))
            << depth << " levels down";
    }
}

}  // namespace
}  // namespace murako
