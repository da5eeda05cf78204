#include "save_file.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <optional>

#include "small_volume.h"
#include "temp_tree.h"

namespace murako {
namespace {

using fakes::SmallVolume;
using fakes::TempTree;

constexpr qsizetype kFree = 4096;  // one page of the tmpfs

QByteArray Contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
}

struct SaveCase {
    const char* name;
    qsizetype size;
};

void PrintTo(const SaveCase& given, std::ostream* out)
{
    *out << given.size << " bytes";
}

// A volume with one page left, as a disk nearly full is. Qt buffers writes of up to 16 KiB, so a file that
// does not fit may fail inside the buffer's flush, or at once.
class NearlyFullVolumeTest : public ::testing::TestWithParam<SaveCase> {
protected:
    void SetUp() override
    {
        out.Dir("full");
        volume.emplace(out.Path("full"), "size=64k");
        if (!volume->Mounted())
            GTEST_SKIP() << "a small tmpfs needs root and a mount namespace";
        QString reason;
        ASSERT_TRUE(WriteWholeFile(old, "old", reason)) << reason.toStdString();
        ASSERT_TRUE(volume->FillLeaving("filler", kFree));
    }
    void TearDown() override { volume.reset(); }

    std::string Names() const
    {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).join(' ').toStdString();
    }
    bool Fits() const { return GetParam().size <= kFree; }

    TempTree out;
    std::optional<SmallVolume> volume;
    const QString folder = QString::fromStdString(out.Path("full"));
    const QString old = folder + QStringLiteral("/old.csv");
    const QByteArray bytes = QByteArray(GetParam().size, 'x');
    QString reason;
};

TEST_P(NearlyFullVolumeTest, ANewFileIsSavedWholeOrFailsWithItsReasonAndLeavesNothing)
{
    const QString fresh = folder + QStringLiteral("/rows.csv");
    EXPECT_EQ(WriteWholeFile(fresh, bytes, reason), Fits());
    if (Fits()) {
        EXPECT_EQ(Contents(fresh), bytes);
    } else {
        EXPECT_EQ(reason.toStdString(), "ディスクの空きが足りません。");
        EXPECT_EQ(Names(), "filler old.csv") << "no part of it, nor a temporary file";
    }
}

TEST_P(NearlyFullVolumeTest, AnOldFileIsReplacedWholeOrKeptAsItWas)
{
    EXPECT_EQ(WriteWholeFile(old, bytes, reason), Fits());
    EXPECT_EQ(Contents(old).size(), Fits() ? bytes.size() : 3);
    EXPECT_EQ(Contents(old), Fits() ? bytes : QByteArray("old"));
    EXPECT_EQ(Names(), "filler old.csv");
}

INSTANTIATE_TEST_SUITE_P(Tables, NearlyFullVolumeTest,
                         ::testing::Values(SaveCase{"SmallerThanTheFreeSpace", 700},
                                           SaveCase{"LargerButBufferedWhole", 8 << 10},
                                           SaveCase{"LargerThanTheBuffer", 100 << 10}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace murako
