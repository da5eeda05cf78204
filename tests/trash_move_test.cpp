// The move to the trash against a disk that changes under it: every order of swap, link and rename a test can
// make, on a temporary directory with the home trash and on a tmpfs of the test's own with the volume's trash,
// each swap made while the move is held at one of its steps. Nothing outside the searched directory moves, a
// refused or failed move leaves no note, and what arrives in the trash is the entry checked.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "kept_rows.h"
#include "posix_file_system.h"
#include "small_volume.h"
#include "temp_tree.h"
#include "trash_move.h"

namespace murako {
namespace {

using fakes::KeptSearch;
using fakes::TempTree;

// The steps of a move at which the test may change the disk.
enum class Step { Question, Note, Rename, Arrival };

// The system's own calls, stopped at a step for the test to act, and failing where the test says.
class StoppingTrash : public TrashFolders {
public:
    std::function<void(Step)> at = [](Step) {};
    int noteError = 0;
    int renameError = 0;
    int renames = 0;

    int OpenBase(const std::string& path) override { return real_->OpenBase(path); }
    int OpenBelow(int at, const std::string& name) override { return real_->OpenBelow(at, name); }
    void Close(int handle) override { real_->Close(handle); }
    std::optional<EntryIdentity> Identify(int at, const std::string& name) override
    {
        return real_->Identify(at, name);
    }
    bool MountedBelow(const std::string& path) override { return real_->MountedBelow(path); }
    bool ReadOnly(int handle) override { return real_->ReadOnly(handle); }
    bool MayWrite(int at, const std::string& name) override { return real_->MayWrite(at, name); }
    uint32_t User() override { return real_->User(); }
    int MakeDirectory(int at, const std::string& name) override { return real_->MakeDirectory(at, name); }
    int WriteNote(int at, const std::string& name, const std::string& text) override
    {
        this->at(Step::Note);
        return noteError ? noteError : real_->WriteNote(at, name, text);
    }
    void Remove(int at, const std::string& name) override { real_->Remove(at, name); }
    int Rename(int from, const std::string& name, int to, const std::string& newName) override
    {
        if (renames++ == 0)
            at(Step::Rename);
        const int error = renameError ? renameError : real_->Rename(from, name, to, newName);
        if (renames == 1 && error == 0)
            at(Step::Arrival);
        return error;
    }
    std::string Now() override { return "2026-12-09T05:30:00"; }

private:
    std::unique_ptr<TrashFolders> real_ = LocalTrashSystem();
};

uint64_t Inode(const std::string& path)
{
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

// Every name below root with its inode, so that anything moved, made or replaced there shows.
std::vector<std::string> Inodes(const std::string& root)
{
    std::vector<std::string> names;
    if (std::filesystem::exists(root))
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
            names.push_back(entry.path().string() + " " + std::to_string(Inode(entry.path().string())));
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> Names(const std::string& dir)
{
    std::vector<std::string> names;
    if (std::filesystem::exists(dir))
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string Read(const std::string& path)
{
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// A searched tree "base" and a tree "outside" of the same shape, where a link put in base may lead.
struct Disk {
    explicit Disk(bool ownVolume)
    {
        tree.Dir("disk");
        tree.Dir("data");
        if (ownVolume)
            volume = std::make_unique<fakes::SmallVolume>(tree.Path("disk"), "size=1m");
        for (const char* top : {"disk/base", "disk/outside"}) {
            tree.File(std::string(top) + "/p/x/f", 1000);
            tree.File(std::string(top) + "/p/y", 100);
        }
        tree.File("disk/base/q/g", 10);
    }
    std::string Path(const std::string& relative) const { return tree.Path("disk/" + relative); }
    // The home trash, on the temporary directory's volume.
    std::string Trash() const
    {
        return volume ? Path(".Trash-" + std::to_string(getuid())) : tree.Path("data/Trash");
    }

    TempTree tree;
    std::unique_ptr<fakes::SmallVolume> volume;
};

// A change the move may have made impossible already.
void Attempt(int) {}

struct Change {
    const char* name;
    bool ofEntry;  // the entry itself changes, not a directory above it
    void (*make)(const Disk& disk, const std::string& entry);
};

// Each may find its entry gone already, moved by the move it interrupts.
const Change kChanges[] = {
    {"BaseToLink", false,
     [](const Disk& disk, const std::string&) {
         Attempt(rename(disk.Path("base").c_str(), disk.Path("base-old").c_str()));
         Attempt(symlink(disk.Path("outside").c_str(), disk.Path("base").c_str()));
     }},
    {"ParentToLink", false,
     [](const Disk& disk, const std::string&) {
         Attempt(rename(disk.Path("base/p").c_str(), disk.Path("base/p-old").c_str()));
         Attempt(symlink(disk.Path("outside/p").c_str(), disk.Path("base/p").c_str()));
     }},
    {"ParentToAnother", false,
     [](const Disk& disk, const std::string&) {
         Attempt(rename(disk.Path("base/p").c_str(), disk.Path("base/p-old").c_str()));
         disk.tree.File("disk/base/p/x/f", 1000);
         disk.tree.File("disk/base/p/y", 100);
     }},
    {"EntryToLink", true,
     [](const Disk& disk, const std::string& entry) {
         Attempt(rename(disk.Path("base/p/" + entry).c_str(), disk.Path("base/p/" + entry + "-old").c_str()));
         Attempt(symlink(disk.Path("outside/p/" + entry).c_str(), disk.Path("base/p/" + entry).c_str()));
     }},
    {"EntryToAnother", true,
     [](const Disk& disk, const std::string& entry) {
         Attempt(rename(disk.Path("base/p/" + entry).c_str(), disk.Path("base/p/" + entry + "-old").c_str()));
         // A file of another length: a file is known by its kind and length until its identity is seen.
         disk.tree.File("disk/base/p/" + std::string(entry == "x" ? "x/f" : "y"), 101);
     }},
};

struct RaceCase {
    bool ownVolume;
    bool file;
    Step step;
    Change change;
};

void PrintTo(const RaceCase& race, std::ostream* out)
{
    *out << race.change.name << " at step " << static_cast<int>(race.step);
}

class TrashRace : public ::testing::TestWithParam<RaceCase> {};

TrashRequest RequestFor(const KeptTree& kept, const Disk& disk, bool file)
{
    const KeptPlace place =
        file ? fakes::FilePlace(kept, disk.Path("base/p"), "y") : KeptPlace{kept.Find(disk.Path("base/p/x"), '/'), {}};
    return {kept, place, disk.Path(file ? "base/p/y" : "base/p/x"), "/nonexistent", disk.tree.Path("data/Trash"), '/'};
}

TEST_P(TrashRace, NothingOutsideMovesAndWhatArrivesIsTheEntryChecked)
{
    const RaceCase& race = GetParam();
    Disk disk(race.ownVolume);
    if (race.ownVolume && !disk.volume->Mounted())
        GTEST_SKIP() << "a tmpfs of the test's own needs root and a mount namespace";
    KeptSearch search(std::make_shared<PosixFileSystem>(), 1);
    search.Search(disk.Path("base"));
    const std::string entry = race.file ? "y" : "x";
    const uint64_t checked = Inode(disk.Path("base/p/" + entry));
    const std::vector<std::string> outside = Inodes(disk.Path("outside"));
    StoppingTrash system;
    system.at = [&](Step step) {
        if (step == race.step)
            race.change.make(disk, entry);
    };
    if (race.step == Step::Question)
        race.change.make(disk, entry);

    const TrashOutcome outcome = MoveToTrash(system, RequestFor(*search.Controller().Kept(), disk, race.file));
    EXPECT_EQ(Inodes(disk.Path("outside")), outside) << "nothing outside the searched directory is touched";
    const bool refused = race.step == Step::Question || (race.change.ofEntry && race.step != Step::Arrival);
    if (refused) {
        EXPECT_EQ(outcome.refusal, MoveRefusal::Changed);
        EXPECT_EQ(Names(disk.Trash() + "/files"), std::vector<std::string>{});
        EXPECT_EQ(Names(disk.Trash() + "/info"), std::vector<std::string>{}) << "no note is left";
        if (race.step == Step::Question) {
            EXPECT_EQ(system.renames, 0) << "refused before anything is renamed";
        }
        return;
    }
    ASSERT_TRUE(outcome.Moved()) << static_cast<int>(outcome.refusal) << " " << outcome.error;
    EXPECT_EQ(Names(disk.Trash() + "/files"), std::vector{entry});
    EXPECT_EQ(Inode(disk.Trash() + "/files/" + entry), checked) << "the very entry checked";
    EXPECT_EQ(Read(disk.Trash() + "/info/" + entry + ".trashinfo"),
              "[Trash Info]\nPath=" + disk.Path("base/p/" + entry) + "\nDeletionDate=2026-12-09T05:30:00\n");
}

std::vector<RaceCase> RaceCases()
{
    std::vector<RaceCase> cases;
    for (const bool ownVolume : {false, true})
        for (const bool file : {false, true})
            for (const Step step : {Step::Question, Step::Note, Step::Rename, Step::Arrival})
                for (const Change& change : kChanges)
                    cases.push_back({ownVolume, file, step, change});
    return cases;
}

std::string RaceName(const ::testing::TestParamInfo<RaceCase>& info)
{
    const RaceCase& race = info.param;
    static const char* const steps[] = {"DuringTheQuestion", "BeforeTheNote", "WhileTheRenameIsHeld", "AfterTheRename"};
    return std::string(race.ownVolume ? "OwnVolume" : "HomeTrash") + (race.file ? "File" : "Directory") +
           race.change.name + steps[static_cast<int>(race.step)];
}

INSTANTIATE_TEST_SUITE_P(Swaps, TrashRace, ::testing::ValuesIn(RaceCases()), RaceName);

// The rules of the place alone, each asked of the disk as it is now.
TEST(TrashRules, EveryRuleIsCheckedAgainstTheDiskAsItIsNow)
{
    TempTree tree(nullptr, fakes::MemoryTempDirectory());
    for (const char* file : {"keep/f", "swap/f", "gone/f", "home/f", "files/plain", "files/resized", "files/target"})
        tree.File(file, 10);
    ASSERT_EQ(symlink("target", tree.Path("files/link").c_str()), 0);
    KeptSearch search(std::make_shared<PosixFileSystem>(), 1);
    search.Search(tree.Root());
    const KeptTree& kept = *search.Controller().Kept();
    const auto dir = [&](const std::string& name) { return KeptPlace{kept.Find(tree.Path(name), '/'), {}}; };
    const auto file = [&](const std::string& name) { return fakes::FilePlace(kept, tree.Path("files"), name); };

    // The disk changes after the search.
    ASSERT_EQ(rename(tree.Path("swap").c_str(), tree.Path("swapped").c_str()), 0);
    tree.Dir("swap");
    ASSERT_EQ(unlink(tree.Path("gone/f").c_str()), 0);
    ASSERT_EQ(rmdir(tree.Path("gone").c_str()), 0);
    tree.File("files/resized", 11);
    ASSERT_EQ(unlink(tree.Path("files/plain").c_str()), 0);
    ASSERT_EQ(symlink("0123456789", tree.Path("files/plain").c_str()), 0);  // as long as the file it replaced

    const struct {
        KeptPlace place;
        std::string path;
        MoveRefusal expected;
    } cases[] = {
        {dir(""), tree.Root(), MoveRefusal::Base},
        {dir("keep"), tree.Path("keep"), MoveRefusal::None},
        {dir("keep"), tree.Path("swap"), MoveRefusal::Outside},
        {dir("keep"), "/tmp", MoveRefusal::Outside},
        {dir("swap"), tree.Path("swap"), MoveRefusal::Changed},
        {dir("gone"), tree.Path("gone"), MoveRefusal::Gone},
        {dir("home"), tree.Path("home"), MoveRefusal::Home},
        {file("target"), tree.Path("files/target"), MoveRefusal::None},
        {file("link"), tree.Path("files/link"), MoveRefusal::None},
        {file("resized"), tree.Path("files/resized"), MoveRefusal::Changed},
        {file("plain"), tree.Path("files/plain"), MoveRefusal::Changed},
    };
    const std::unique_ptr<TrashFolders> system = LocalTrashSystem();
    for (const auto& c : cases)
        EXPECT_EQ(CheckHeld(*system, {kept, c.place, c.path, tree.Path("home"), "", '/'}).refusal, c.expected)
            << c.path;
    EXPECT_TRUE(system->Identify(kNoAnchor, "/proc")->volumeRoot);
    EXPECT_FALSE(system->Identify(kNoAnchor, tree.Path("keep"))->volumeRoot);
}

// A directory moved would take a volume mounted below it into the trash, whose emptying would delete what the
// other volume holds; a mount point's name with a space is written escaped in the mount table.
TEST(TrashRules, ADirectoryWithAVolumeMountedBelowItIsRefused)
{
    TempTree tree;
    tree.Dir("holder/with space/m");
    tree.File("holde/f", 10);
    tree.File("holder/f", 10);
    fakes::SmallVolume volume(tree.Path("holder/with space/m"), "size=64k");
    if (!volume.Mounted())
        GTEST_SKIP() << "a small tmpfs needs root and a mount namespace";
    KeptSearch search(std::make_shared<PosixFileSystem>(), 1);
    search.Search(tree.Root());
    const KeptTree& kept = *search.Controller().Kept();
    const auto check = [&](const std::string& name) {
        return CheckHeld(*LocalTrashSystem(), {kept, {kept.Find(tree.Path(name), '/'), {}}, tree.Path(name),
                                               "/nonexistent", "", '/'})
            .refusal;
    };
    EXPECT_EQ(check("holder"), MoveRefusal::HoldsVolume);
    EXPECT_EQ(check("holder/with space"), MoveRefusal::HoldsVolume);
    EXPECT_EQ(check("holder/with space/m"), MoveRefusal::VolumeRoot);
    EXPECT_EQ(check("holde"), MoveRefusal::None) << "a name that begins the mount point's is no directory above it";
}

// What was moved already, and everything below it, is refused as moved, not sought on the disk again.
TEST(TrashRules, APlaceMovedOrBelowOneMovedIsRefusedAsMovedAlready)
{
    TempTree tree;
    tree.File("a/b/c/f", 10);
    tree.File("a/g", 10);
    KeptSearch search(std::make_shared<PosixFileSystem>(), 1);
    search.Search(tree.Root());
    const KeptTree& kept = *search.Controller().Kept();
    const KeptPlace a{kept.Find(tree.Path("a"), '/'), {}};
    search.Controller().MovedAway(a);
    search.Controller().MovedAway(fakes::FilePlace(kept, tree.Path("a"), "g"));
    const auto check = [&](const KeptPlace& place, const std::string& path) {
        return KeptRefusal(kept, place, tree.Path(path), '/');
    };
    EXPECT_EQ(check(a, "a"), MoveRefusal::AlreadyMoved);
    EXPECT_EQ(check({kept.Find(tree.Path("a/b"), '/'), {}}, "a/b"), MoveRefusal::AlreadyMoved);
    EXPECT_EQ(check({kept.Find(tree.Path("a/b/c"), '/'), {}}, "a/b/c"), MoveRefusal::AlreadyMoved);
    EXPECT_EQ(check(fakes::FilePlace(kept, tree.Path("a/b/c"), "f"), "a/b/c/f"), MoveRefusal::AlreadyMoved);
    EXPECT_EQ(check(fakes::FilePlace(kept, tree.Path("a"), "g"), "a/g"), MoveRefusal::AlreadyMoved);
}

// A move that fails where nothing checked could tell leaves the entry, the trash and its notes as they were,
// and says why; a name taken in the trash is given the next one free.
struct FailureCase {
    const char* name;
    int noteError;
    int renameError;
    TrashOutcome expected;
};

void PrintTo(const FailureCase& failure, std::ostream* out)
{
    *out << failure.name;
}

class TrashFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(TrashFailure, NothingChangesAndTheReasonIsGiven)
{
    const FailureCase& failure = GetParam();
    Disk disk(false);
    KeptSearch search(std::make_shared<PosixFileSystem>(), 1);
    search.Search(disk.Path("base"));
    const std::vector<std::string> before = Inodes(disk.Path("base"));
    StoppingTrash system;
    system.noteError = failure.noteError;
    system.renameError = failure.renameError;
    const TrashOutcome outcome = MoveToTrash(system, RequestFor(*search.Controller().Kept(), disk, false));
    EXPECT_EQ(outcome.refusal, failure.expected.refusal);
    EXPECT_EQ(outcome.error, failure.expected.error);
    EXPECT_EQ(Inodes(disk.Path("base")), before);
    EXPECT_EQ(Names(disk.Trash() + "/files"), std::vector<std::string>{});
    EXPECT_EQ(Names(disk.Trash() + "/info"), std::vector<std::string>{}) << "the note is removed";
}

INSTANTIATE_TEST_SUITE_P(
    Failures, TrashFailure,
    ::testing::Values(FailureCase{"NoteCannotBeWritten", ENOSPC, 0, {MoveRefusal::None, ENOSPC}},
                      FailureCase{"RenameRefused", 0, EACCES, {MoveRefusal::None, EACCES}},
                      FailureCase{"RenameAcrossVolumes", 0, EXDEV, {MoveRefusal::None, EXDEV}},
                      // Some network file systems cannot rename without replacing: never renamed by path instead.
                      FailureCase{"NoRenameWithoutReplacing", 0, EINVAL, {MoveRefusal::NoReplace, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TrashMove, ANameTakenInTheTrashIsGivenTheNextFreeAndTheNoteNamesThePathByItsBytes)
{
    Disk disk(false);
    disk.tree.File("disk/base/p/a b\xff%/f", 10);
    disk.tree.Dir("data/Trash/files/a b\xff%");
    disk.tree.File("data/Trash/info/a b\xff%-0001.trashinfo", 1);
    KeptSearch search(std::make_shared<PosixFileSystem>(), 1);
    search.Search(disk.Path("base"));
    const KeptTree& kept = *search.Controller().Kept();
    const std::string path = disk.Path("base/p/a b\xff%");
    const uint64_t checked = Inode(path);
    StoppingTrash system;
    const TrashRequest request{kept, {kept.Find(path, '/'), {}}, path, "/nonexistent", disk.Trash(), '/'};
    ASSERT_TRUE(CheckForTrash(system, request).Moved());
    ASSERT_TRUE(MoveToTrash(system, request).Moved());
    EXPECT_EQ(Inode(disk.Trash() + "/files/a b\xff%-0002"), checked);
    EXPECT_EQ(Read(disk.Trash() + "/info/a b\xff%-0002.trashinfo"),
              "[Trash Info]\nPath=" + disk.Path("base/p/a%20b%FF%25") + "\nDeletionDate=2026-12-09T05:30:00\n");
}

// Asking changes nothing: the trash is made only by the move; a trash inside the entry would take it into itself.
TEST(TrashMove, AskingMakesNoTrashAndATrashInsideTheEntryIsRefused)
{
    Disk disk(false);
    KeptSearch search(std::make_shared<PosixFileSystem>(), 1);
    search.Search(disk.Path("base"));
    const KeptTree& kept = *search.Controller().Kept();
    StoppingTrash system;
    const std::string q = disk.Path("base/q");
    TrashRequest request{kept, {kept.Find(q, '/'), {}}, q, "/nonexistent", disk.Trash(), '/'};
    ASSERT_TRUE(CheckForTrash(system, request).Moved());
    EXPECT_FALSE(std::filesystem::exists(disk.Trash()));
    request.homeTrash = q + "/share/Trash";
    EXPECT_EQ(CheckForTrash(system, request).refusal, MoveRefusal::HoldsTrash);
    disk.tree.Dir("disk/base/q/share/Trash");
    EXPECT_EQ(MoveToTrash(system, request).refusal, MoveRefusal::HoldsTrash);
    EXPECT_TRUE(std::filesystem::exists(q + "/g"));
}

// A trash that moves by path, as the recycle bin does, is given the entry only while it is the one checked, and
// its failure is told.
TEST(TrashByPath, TheSystemsTrashIsGivenOnlyTheEntryCheckedAndItsFailureIsTold)
{
    Disk disk(false);
    KeptSearch search(std::make_shared<PosixFileSystem>(), 1);
    search.Search(disk.Path("base"));
    const TrashRequest request = RequestFor(*search.Controller().Kept(), disk, false);
    StoppingTrash system;
    int given = 0;
    const auto give = [&](int error) {
        return MoveByPathHeld(system, request, [&] {
            ++given;
            return error;
        });
    };
    EXPECT_EQ(give(ECANCELED).error, ECANCELED);
    EXPECT_TRUE(give(0).Moved());
    EXPECT_EQ(given, 2);
    kChanges[4].make(disk, "x");
    EXPECT_EQ(give(0).refusal, MoveRefusal::Changed);
    EXPECT_EQ(given, 2) << "never given once swapped";
}

}  // namespace
}  // namespace murako
