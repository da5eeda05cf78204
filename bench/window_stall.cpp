// Measures how long the window's event loop goes without running a 1 ms timer while a search runs: while
// 100,000 rows fill the table from a scripted file system, and, given a directory, while it is scanned.
// Usage: murako-window-stall [DIR]
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <string>

#include "dir_list.h"
#include "fake_run.h"
#include "walk_pace.h"
#include "form1.h"
#include "posix_file_system.h"
#include "results_grid.h"

namespace {

struct Stall {
    qint64 longestMs = 0;
    int rows = 0;
    bool finished = false;
};

Stall LongestStall(std::shared_ptr<murako::FileSystem> fileSystem, const std::string& path)
{
    Stall stall;
    murako::Form1 form(std::move(fileSystem));
    form.show();
    if (!form.findChild<murako::DirList*>("Dir1")->SetPath(path))
        return stall;
    QElapsedTimer sinceTick;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] { stall.longestMs = std::max(stall.longestMs, sinceTick.restart()); });
    sinceTick.start();
    probe.start();
    QTest::mouseClick(form.findChild<QPushButton*>("Command1"), Qt::LeftButton);
    stall.finished = QTest::qWaitFor([&] { return !form.Controller().Searching(); }, 600000);
    QTest::qWait(3 * murako::ResultsGrid::FrameInterval);
    stall.rows = form.Table().Rows();
    return stall;
}

void Report(const char* what, const Stall& stall)
{
    if (!stall.finished)
        std::printf("%s: did not finish\n", what);
    else
        std::printf("%s: longest event-loop stall %lld ms, %d rows\n", what, static_cast<long long>(stall.longestMs),
                    stall.rows);
}

}  // namespace

int main(int argc, char** argv)
{
    const murako::WalkProcessSettings walkSettings;
    QApplication app(argc, argv);
    constexpr int kSubdirectories = 100000;
    auto rows = std::make_shared<murako::fakes::FakeFileSystem>();
    for (int i = 0; i < kSubdirectories; ++i)
        rows->Dir(std::to_string(i).insert(0, 1, '/'));  // operator+ here trips a GCC 12 false -Wrestrict
    const Stall filling = LongestStall(rows, "/");
    Report("filling 100,000 rows", filling);
    if (filling.rows != kSubdirectories + 3) {
        std::fprintf(stderr, "murako-window-stall: %d rows where %d were expected\n", filling.rows, kSubdirectories + 3);
        return 1;
    }
    if (argc > 1) {
        const std::string dir = argv[1];
        murako::ReadFailure failure = murako::ReadFailure::None;
        if (!murako::PosixFileSystem().Open(dir, failure)) {
            std::fprintf(stderr, "murako-window-stall: %s cannot be listed\n", dir.c_str());
            return 1;
        }
        Report(("scanning " + dir).c_str(), LongestStall(std::make_shared<murako::PosixFileSystem>(), dir));
    }
    return 0;
}
