#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "directory_handles.h"
#include "fake_run.h"
#include "kept_rows.h"
#include "trash_move.h"
#include "search_run.h"
#include "text.h"
#include "walker.h"
#include "windows_file_system.h"

namespace murako {
namespace {

namespace fs = std::filesystem;

// A temporary tree under the system's temporary directory, removed with everything in it.
class WindowsWalkTest : public ::testing::Test {
protected:
    WindowsWalkTest()
    {
        root_ = fs::temp_directory_path() /
                ("murako-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount64()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(root_);
    }
    ~WindowsWalkTest() override
    {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    // Names are UTF-8, as the program holds them.
    fs::path At(const std::string& relative) const { return root_ / fs::path(Utf16Path(relative)); }
    std::string Path(const std::string& relative) const
    {
        return Wtf8FromUtf16(root_.u16string()) + (relative.empty() ? "" : "\\" + relative);
    }
    // Made through the paths the program opens with, so that a tree past MAX_PATH is made on Windows too.
    void Dir(const std::string& relative)
    {
        for (size_t end = relative.find('\\'); ; end = relative.find('\\', end + 1)) {
            const std::wstring path = Win32PathForOpen(Path(relative.substr(0, end)));
            ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) << relative;
            if (end == std::string::npos)
                return;
        }
    }
    void File(const std::string& relative, size_t length)
    {
        if (const size_t slash = relative.rfind('\\'); slash != std::string::npos)
            Dir(relative.substr(0, slash));
        const HANDLE file = CreateFileW(Win32PathForOpen(Path(relative)).c_str(), GENERIC_WRITE, 0, nullptr,
                                        CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << relative;
        DWORD written = 0;
        const std::string bytes(length, 'x');
        EXPECT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(length), &written, nullptr));
        CloseHandle(file);
    }

    // A symbolic link to a directory, false where none is made: wine 8 says it made one and makes nothing,
    // which reads as attributes with every bit set.
    bool MadeDirectoryLink(const std::string& relative, const std::string& target)
    {
        const std::wstring link = At(relative).wstring();
        const DWORD attributes = CreateSymbolicLinkW(link.c_str(), At(target).wstring().c_str(),
                                                     SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)
                                     ? GetFileAttributesW(link.c_str())
                                     : INVALID_FILE_ATTRIBUTES;
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    }

    std::vector<std::string> Search(const std::string& relative, int threads)
    {
        return fakes::SearchRows(table, fileSystem, Path(relative), threads);
    }

    std::vector<std::string> Listed(const std::string& relative)
    {
        ReadFailure failure = ReadFailure::None;
        std::vector<std::string> names;
        const std::unique_ptr<Directory> dir = fileSystem->Open(Path(relative), failure);
        for (std::string_view name; dir && dir->NextName(name);)
            if (name != "." && name != "..")
                names.emplace_back(name);
        return names;
    }

    static std::u16string Utf16Path(const std::string& relative) { return Utf16FromWtf8(relative); }

    fs::path root_;
    std::shared_ptr<FileSystem> fileSystem = MakeLocalFileSystem();
    ResultsTable table;
};

TEST_F(WindowsWalkTest, RowsAndTheTotalCarryJapaneseNamesAndBackslashPathsInEveryMode)
{
    File("基\\a.txt", 1536);
    File("基\\.hidden", 1024);
    File("基\\フォルダ\\x", 51200);
    File("基\\フォルダ\\深い\\y", 25600);
    Dir("基\\空");
    for (int threads : {1, 0}) {
        std::vector<std::string> rows = Search("基", threads);
        ASSERT_EQ(rows.size(), 4u) << threads;
        std::sort(rows.begin() + 1, rows.end() - 1);  // subdirectories come in the file system's order
        EXPECT_EQ(rows[0], "1 [Root Files] 2560");
        EXPECT_EQ(rows[1], "2 フォルダ 76800");
        EXPECT_EQ(rows[2], "3 空 0");
        EXPECT_EQ(rows[3], "4 " + Path("基") + "\\合計 79360") << "a backslash before the total's name";
    }
    EXPECT_EQ(PathSeparator(), '\\');
}

// Each level opens relative to its parent's handle, so neither MAX_PATH nor the handle budget limits the
// walk: a comb of 120 levels, 240 characters below its base, walked with 16 handles at most, so that the
// second subdirectory of a level is opened from a handle reopened down from one still held.
TEST_F(WindowsWalkTest, ACombPastMaxPathAndDeeperThanTheHandleBudgetIsMeasuredExactly)
{
    std::string level = "comb";
    std::vector<std::string> firstLevel;
    for (int i = 0; i < 120; ++i) {
        Dir(level + "\\a");
        Dir(level + "\\b");
        const std::vector<std::string> names = Listed(level);
        ASSERT_EQ(names.size(), 2u);
        File(level + "\\" + names[1] + "\\f", 1);
        if (i == 0)
            firstLevel = names;
        level += "\\" + names[0];
    }
    const std::vector<std::string> expected{"1 [Root Files] 0", "2 " + firstLevel[0] + " 119", "3 " + firstLevel[1] + " 1",
                                            "4 " + Path("comb") + "\\合計 120"};
    fileSystem = std::make_shared<WindowsFileSystem>(16);
    for (int threads : {1, 0})
        EXPECT_EQ(Search("comb", threads), expected) << threads << " threads";
}

// A name with an unpaired surrogate is no UTF-8: it is listed as WTF-8, opened again by those bytes, and
// shown with replacement characters.
TEST_F(WindowsWalkTest, ANameWithAnUnpairedSurrogateIsOpenedAgainAndCounted)
{
    Dir("s");
    const std::u16string lone = std::u16string(u"d\xD800");
    const std::wstring dir = At("s").wstring() + L"\\" + std::wstring(lone.begin(), lone.end());
    if (!CreateDirectoryW(dir.c_str(), nullptr))
        GTEST_SKIP() << "SKIPPED, NOT TESTED: this system stores no unpaired surrogate in a name";
    File("s\\" + Wtf8FromUtf16(lone) + "\\f", 7);
    if (Utf16FromWtf8(Listed("s").at(0)) != lone)
        GTEST_SKIP() << "SKIPPED, NOT TESTED: this system lists the name with other units than it was made with";
    EXPECT_EQ(Search("s", 1), (std::vector<std::string>{"1 [Root Files] 0", "2 d\uFFFD\uFFFD\uFFFD 7",
                                                         "3 " + Path("s") + "\\合計 7"}));
}

// A symbolic link to a directory is a reparse point: it counts its own listed length, and what it leads to
// is never entered, as a link is not on Linux.
TEST_F(WindowsWalkTest, ALinkToADirectoryIsNeverEntered)
{
    File("target\\big", 5000);
    Dir("l");
    if (!MadeDirectoryLink("l\\to-target", "target"))
        GTEST_SKIP() << "SKIPPED, NOT TESTED: no symbolic link to a directory can be made here";
    for (int threads : {1, 0})
        EXPECT_EQ(Search("l", threads), (std::vector<std::string>{"1 [Root Files] 0", "2 " + Path("l") + "\\合計 0"}))
            << threads << " threads";
}

// What cannot be searched is told, not counted as an empty directory.
TEST_F(WindowsWalkTest, AMissingBaseAndAFileGivenAsTheBaseAreToldApart)
{
    File("file", 3);
    ReadFailure failure = ReadFailure::None;
    EXPECT_EQ(fileSystem->Open(Path("missing"), failure), nullptr);
    EXPECT_EQ(failure, ReadFailure::NotFound);
    EXPECT_EQ(fileSystem->Open(Path("file"), failure), nullptr);
    EXPECT_EQ(failure, ReadFailure::NotDirectory);
}

// A directory is known by its volume's serial number and its file ID, whichever way it was reached, so that
// a loop through a mounted volume is seen.
TEST_F(WindowsWalkTest, ADirectoryHasOneIdentityWhicheverWayItIsReached)
{
    Dir("a\\b");
    ReadFailure failure = ReadFailure::None;
    const std::unique_ptr<Directory> a = fileSystem->Open(Path("a"), failure);
    const std::unique_ptr<Directory> b = fileSystem->Open(Path("a\\b"), failure);
    const std::unique_ptr<Directory> again = fileSystem->Open(Path("a\\b\\..\\..\\a"), failure);
    ASSERT_TRUE(a && b && again);
    ASSERT_TRUE(a->Identity().has_value());
    EXPECT_EQ(a->Identity(), again->Identity());
    EXPECT_NE(a->Identity(), b->Identity());
    std::unique_ptr<Directory> opened = a->OpenSubdirectory("b", failure);
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(opened->Identity(), b->Identity());
}

TEST(Win32PathForOpen, MakesPathsAbsoluteWithBackslashesAndPrefixesThemPastMaxPath)
{
    EXPECT_EQ(Win32PathForOpen("C:/Users/合計"), L"C:\\Users\\合計");
    const std::wstring relative = Win32PathForOpen("x");
    EXPECT_EQ(relative.substr(1, 2), L":\\") << "made absolute";
    const std::string longName(300, 'n');
    EXPECT_EQ(Win32PathForOpen("C:\\" + longName), L"\\\\?\\C:\\" + std::wstring(300, L'n'));
    EXPECT_EQ(Win32PathForOpen("\\\\server\\share\\" + longName),
              L"\\\\?\\UNC\\server\\share\\" + std::wstring(300, L'n'));
    EXPECT_EQ(Win32PathForOpen("\\\\?\\C:\\already"), L"\\\\?\\C:\\already");
}

// "D:" is D:'s own current directory, and "D:data" a path from there; a path with a root stays as given.
TEST_F(WindowsWalkTest, ADriveWithoutItsRootStartsAtTheDrivesCurrentDirectory)
{
    fs::create_directories(At("data"));
    const fs::path before = fs::current_path();
    fs::current_path(root_);
    const std::string current = Wtf8FromUtf16(root_.u16string());
    const std::string drive = current.substr(0, 2);
    EXPECT_EQ(PathFromDriveCurrentDirectory(drive), current);
    EXPECT_EQ(PathFromDriveCurrentDirectory(drive + "data"), current + "\\data");
    fs::current_path(before);
    for (const std::string& given : {drive + "\\", drive + "/x", std::string("data"), std::string("\\\\server\\share")})
        EXPECT_EQ(PathFromDriveCurrentDirectory(given), given);
}

// What a search found is moved only while its path still names it: a directory put in another's place is
// refused by its file ID, a file by its length; a link is judged as itself, never by what it leads to.
TEST_F(WindowsWalkTest, AMoveIsRefusedWhenThePathNamesSomethingElseNowAndALinkIsNeverFollowed)
{
    File("base\\keep\\f", 10);
    File("base\\swap\\f", 10);
    File("base\\files\\plain", 10);
    File("base\\files\\resized", 10);
    const bool linked = MadeDirectoryLink("base\\files\\to-keep", "base\\keep");
    fakes::KeptSearch search(fileSystem, 1);
    search.Search(Path("base"));
    const KeptTree& kept = *search.Controller().Kept();
    const auto dir = [&](const std::string& name) { return KeptPlace{kept.Find(Path(name), '\\'), {}}; };
    const auto file = [&](const std::string& name) {
        KeptPlace place = dir("base\\files");
        uint32_t index = 0;
        ForEachFile(*place.dir, [&](const KeptFile& found) {
            if (found.name == name)
                place.file = index;
            ++index;
        });
        return place;
    };
    const auto check = [&](const KeptPlace& place, const std::string& path) {
        return CheckHeld(*LocalTrashSystem(), {kept, place, Path(path), Path("home"), "", '\\'}).refusal;
    };
    const std::optional<EntryIdentity> swapBefore = LocalTrashSystem()->Identify(kNoAnchor, Path("base\\swap"));
    ASSERT_TRUE(swapBefore && swapBefore->directory && !swapBefore->link && !swapBefore->volumeRoot);
    EXPECT_EQ(check(dir("base\\swap"), "base\\swap"), MoveRefusal::None);

    // Another directory of the same name takes swap's place, and a file grows.
    fs::rename(At("base\\swap"), At("swapped"));
    Dir("base\\swap");
    File("base\\files\\resized", 11);
    const std::optional<EntryIdentity> swapNow = LocalTrashSystem()->Identify(kNoAnchor, Path("base\\swap"));
    ASSERT_TRUE(swapNow);
    EXPECT_EQ(swapNow->device, swapBefore->device);
    EXPECT_NE(swapNow->inode, swapBefore->inode);
    EXPECT_EQ(check(dir("base\\swap"), "base\\swap"), MoveRefusal::Changed);
    EXPECT_EQ(check(dir("base\\keep"), "base\\keep"), MoveRefusal::None);
    EXPECT_EQ(check(dir("base"), "base"), MoveRefusal::Base);
    EXPECT_EQ(check(file("plain"), "base\\files\\plain"), MoveRefusal::None);
    EXPECT_EQ(check(file("resized"), "base\\files\\resized"), MoveRefusal::Changed);
    // While the recycle bin is given the entry, no directory from its parent up can be renamed.
    std::error_code renamedAbove, renamedItself;
    const TrashOutcome held =
        MoveByPathHeld(*LocalTrashSystem(), {kept, dir("base\\keep"), Path("base\\keep"), Path("home"), "", '\\'}, [&] {
            fs::rename(At("base"), At("base-moved"), renamedAbove);
            fs::rename(At("base\\keep"), At("base\\kept"), renamedItself);
            if (!renamedItself)
                fs::rename(At("base\\kept"), At("base\\keep"));
            return 0;
        });
    EXPECT_TRUE(held.Moved());
    EXPECT_TRUE(renamedAbove) << "held without leave to delete";
    EXPECT_FALSE(renamedItself) << "the entry itself is left for the recycle bin to move";
    const std::string drive = Path("").substr(0, 3);
    EXPECT_TRUE(LocalTrashSystem()->Identify(kNoAnchor, drive)->volumeRoot) << drive;

    if (!linked)
        GTEST_SKIP() << "SKIPPED, NOT TESTED: no symbolic link to a directory can be made here";
    const std::optional<EntryIdentity> linkNow = LocalTrashSystem()->Identify(kNoAnchor, Path("base\\files\\to-keep"));
    ASSERT_TRUE(linkNow);
    EXPECT_TRUE(linkNow->link);
    EXPECT_NE(linkNow->inode, LocalTrashSystem()->Identify(kNoAnchor, Path("base\\keep"))->inode) << "the link itself, not what it leads to";
    EXPECT_EQ(check(file("to-keep"), "base\\files\\to-keep"), MoveRefusal::None);
    fs::remove_all(At("base\\keep"));
    EXPECT_EQ(check(file("to-keep"), "base\\files\\to-keep"), MoveRefusal::None) << "whatever it leads to";
}

}  // namespace
}  // namespace murako
