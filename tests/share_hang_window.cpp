// The real window over a share that stops answering: given the slow file system's daemon and a directory on
// it, searches, stops the daemon mid-search, presses 取消 and checks that the controls came back at once;
// lets the daemon go on and checks that the cancelled run writes no total; searches again, stops the daemon
// again, presses 取消 and 終了, and returns the way the program does once its window is gone. Prints each
// failure and "終了 pressed at SECONDS" (the realtime clock) for the script that waits for the process's end.
// Usage: murako-share-hang DAEMON_PID DIR
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "dir_list.h"
#include "form1.h"
#include "posix_file_system.h"
#include "walk_pace.h"

namespace {

int g_failures = 0;

void Expect(bool holds, const char* what)
{
    if (!holds) {
        std::printf("FAILED: %s\n", what);
        ++g_failures;
    }
}

// Keeps the window live for a while, as its event loop would.
void Run(int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

int RowsEndingInTotal(const murako::ResultsTable& table)
{
    int totals = 0;
    for (int32_t row = 0; row < table.Rows(); ++row)
        totals += table.TextAt(row, 1).ends_with("合計");
    return totals;
}

}  // namespace

int main(int argc, char** argv)
{
    const murako::WalkProcessSettings walkSettings;
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: murako-share-hang DAEMON_PID DIR\n");
        return 2;
    }
    const pid_t daemon = static_cast<pid_t>(std::atoi(argv[1]));
    murako::Form1 form(std::make_shared<murako::PosixFileSystem>());
    form.show();
    auto* search = form.findChild<QPushButton*>("Command1");
    auto* exit = form.findChild<QPushButton*>("Command2");
    if (!form.findChild<murako::DirList*>("Dir1")->SetPath(argv[2])) {
        std::printf("FAILED: %s cannot be listed\n", argv[2]);
        return 1;
    }
    // Searches and stops the daemon once the walk is well under way and its calls are waiting for answers.
    auto searchUntilTheShareHangs = [&] {
        QTest::mouseClick(search, Qt::LeftButton);
        Run(300);
        Expect(form.Controller().Searching(), "the search was still going when the share stopped answering");
        kill(daemon, SIGSTOP);
        Run(300);
    };
    auto cancelAtOnce = [&] {
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(search, Qt::LeftButton);
        const bool idle = search->text() == "検索" && exit->isVisibleTo(&form) &&
                          QApplication::overrideCursor() == nullptr && !form.Controller().Searching();
        std::printf("取消 restored the controls in %lld ms\n", static_cast<long long>(clock.elapsed()));
        Expect(idle && clock.elapsed() < 200, "取消 restores the controls at once");
    };

    searchUntilTheShareHangs();
    cancelAtOnce();
    const int32_t rowsAtCancel = form.Table().Rows();
    kill(daemon, SIGCONT);
    Run(1500);
    Expect(RowsEndingInTotal(form.Table()) == 0, "a cancelled run writes no total once the share answers again");
    Expect(form.Table().Rows() <= rowsAtCancel + 1, "a cancelled run writes at most the row it cut short");
    Expect(search->text() == "検索", "the window stays idle once the share answers again");

    searchUntilTheShareHangs();
    cancelAtOnce();
    QElapsedTimer clock;
    clock.start();
    std::printf("終了 pressed at %.3f\n",
                std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count());
    std::fflush(stdout);
    QTest::mouseClick(exit, Qt::LeftButton);
    std::printf("the window closed in %lld ms\n", static_cast<long long>(clock.elapsed()));
    Expect(!form.isVisible() && clock.elapsed() < 1000, "終了 closes the window within a second");
    std::fflush(stdout);
    // As the program's main returns once its window is gone, with the walk still stuck in the share.
    return g_failures == 0 ? 0 : 1;
}
