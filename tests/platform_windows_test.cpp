#include <QDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform.h"
#include "text.h"

namespace murako {
namespace {

// The directory list shows subdirectories as Explorer does: without regard to case, numbers by their value,
// and files left out.
TEST(ListSubdirectories, OrdersAsExplorerDoes)
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "murako-test-dir-order";
    std::filesystem::remove_all(dir);
    for (const char* name : {"deep", "B", "x10", "My Documents", "2004", "a", "x9", "Zeta", "300"})
        std::filesystem::create_directories(dir / name);
    std::filesystem::create_directories(dir / "a" / "below");
    std::ofstream(dir / "c.txt") << "a file";

    std::vector<std::string> names;
    ASSERT_TRUE(ListSubdirectories(dir.string(), names));
    EXPECT_EQ(names, (std::vector<std::string>{"300", "2004", "a", "B", "deep", "My Documents", "x9", "x10", "Zeta"}));
    std::filesystem::remove_all(dir);
}

// The drive list holds the drive of the current directory, named as "c:" with its label, and that drive
// opens at the current directory.
TEST(UserVolumes, HoldTheCurrentDriveWhichOpensAtTheCurrentDirectory)
{
    const QString current = PathText(Wtf8FromUtf16(std::filesystem::current_path().u16string()));
    const std::vector<Volume> volumes = UserVolumes();
    const auto drive = std::find_if(volumes.begin(), volumes.end(), [&](const Volume& volume) {
        return volume.rootPath.left(2).compare(current.left(2), Qt::CaseInsensitive) == 0;
    });
    ASSERT_NE(drive, volumes.end()) << current.toStdString();
    EXPECT_TRUE(VolumeText(*drive).startsWith(current.left(2).toLower())) << VolumeText(*drive).toStdString();
    // Wine ends a drive's current directory with a separator, Windows does not.
    const QString opened = PathText(CurrentDirectoryOn(drive->rootPath));
    EXPECT_EQ(QDir::cleanPath(QDir::fromNativeSeparators(opened)).compare(QDir::cleanPath(QDir::fromNativeSeparators(current)),
                                                                          Qt::CaseInsensitive),
              0)
        << opened.toStdString();
}

}  // namespace
}  // namespace murako
