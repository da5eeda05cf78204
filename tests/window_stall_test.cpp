#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>
#include <iostream>

#include "dir_list.h"
#include "fake_run.h"
#include "form1.h"
#include "posix_file_system.h"
#include "results_grid.h"
#include "window_test_support.h"

namespace murako {
namespace {

// The longest time the event loop went without running a 1 ms timer while a search ran.
int LongestStallMs(std::shared_ptr<FileSystem> fileSystem, const std::string& path, int& rows)
{
    Form1 form(std::move(fileSystem));
    form.show();
    if (!form.findChild<DirList*>("Dir1")->SetPath(path))
        ADD_FAILURE() << path << " cannot be listed";
    QElapsedTimer sinceTick;
    qint64 longest = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] { longest = std::max(longest, sinceTick.restart()); });
    sinceTick.start();
    probe.start();
    QTest::mouseClick(form.findChild<QPushButton*>("Command1"), Qt::LeftButton);
    EXPECT_TRUE(fakes::WaitUntil([&] { return !form.Controller().Searching(); }, 120000));
    QTest::qWait(3 * ResultsGrid::FrameInterval);
    rows = form.Table().Rows();
    return static_cast<int>(longest);
}

// These report figures rather than assert them: timings depend on the machine.
TEST(WindowResponsiveness, LongestEventLoopStallWhileScanningTheBenchmarkTree)
{
    const std::string tree = "/tmp/murako-trees/tree";
    if (!std::filesystem::is_directory(tree))
        GTEST_SKIP() << tree << " is missing; build it with the benchmark trees' make-all";
    int rows = 0;
    const int stall = LongestStallMs(std::make_shared<PosixFileSystem>(), tree, rows);
    std::cout << "longest event-loop stall scanning " << tree << ": " << stall << " ms (" << rows << " rows)\n";
    RecordProperty("stall_ms", stall);
}

TEST(WindowResponsiveness, LongestEventLoopStallWhileFillingOneHundredThousandRows)
{
    constexpr int Subdirectories = 100000;
    auto fileSystem = std::make_shared<fakes::FakeFileSystem>();
    for (int i = 0; i < Subdirectories; ++i)
        fileSystem->Dir(std::to_string(i).insert(0, 1, '/'));  // operator+ here trips a GCC 12 false -Wrestrict
    int rows = 0;
    const int stall = LongestStallMs(fileSystem, "/", rows);
    EXPECT_EQ(rows, Subdirectories + 3);
    std::cout << "longest event-loop stall filling " << Subdirectories << " rows: " << stall << " ms\n";
    RecordProperty("stall_ms", stall);
}

}  // namespace
}  // namespace murako
