// Opens the real window offscreen, presses 検索 on DIR and measures the time from the press to the total
// row, the way a user meets a search. Prints the total and the time like murako-bench; with --repeat N it
// presses 検索 again a second after each total row, as a user reading the table would, and prints each
// search's time with the resident memory at the next press, then the peak.
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "dir_list.h"
#include "form1.h"
#include "posix_file_system.h"
#include "process_memory.h"
#include "walk_pace.h"

int main(int argc, char** argv)
{
    const murako::WalkProcessSettings walkSettings;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList arguments = app.arguments();
    int repeat = 1;
    if (arguments.size() == 4 && arguments[1] == QStringLiteral("--repeat")) {
        repeat = std::max(1, arguments[2].toInt());
        arguments.remove(1, 2);
    }
    if (arguments.size() != 2) {
        std::fprintf(stderr, "usage: murako-window-bench [--repeat N] DIR\n");
        return 2;
    }
    const std::string dir = arguments[1].toStdString();

    QElapsedTimer sincePress;
    int64_t totalBytes = -1;
    int32_t rows = 0;
    double seconds = 0;
    int searches = 0;
    QPushButton* search = nullptr;
    // Pressed once the window is up and idle, as a user would.
    auto press = [&] {
        QTimer::singleShot(0, [&] {
            ++searches;
            sincePress.start();
            search->click();
        });
    };
    murako::SearchController::Options options;
    options.rowWritten = [&](int32_t row, const std::string& name, int64_t bytes) {
        rows = row;
        if (name != dir + (dir.ends_with('/') ? "" : "/") + "合計")
            return;
        seconds = static_cast<double>(sincePress.nsecsElapsed()) / 1e9;
        totalBytes = bytes;
        if (repeat == 1) {
            app.quit();
            return;
        }
        QTimer::singleShot(1000, [&] {
            std::printf("search=%d seconds=%.3f rss_kb=%ld\n", searches, seconds, ProcessMemoryKb("VmRSS"));
            if (searches < repeat)
                press();
            else
                app.quit();
        });
    };
    murako::Form1 form(std::make_shared<murako::PosixFileSystem>(), options);
    form.show();
    if (!form.findChild<murako::DirList*>("Dir1")->SetPath(dir)) {
        std::fprintf(stderr, "%s cannot be listed\n", dir.c_str());
        return 1;
    }
    search = form.findChild<QPushButton*>("Command1");
    press();
    app.exec();
    if (repeat > 1)
        std::printf("peak_rss_kb=%ld\n", ProcessMemoryKb("VmHWM"));
    std::printf("total_bytes=%lld entries=%d seconds=%.3f\n", static_cast<long long>(totalBytes), rows, seconds);
    return totalBytes < 0 ? 1 : 0;
}
