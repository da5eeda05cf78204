// Opens the real window offscreen, presses 検索 on DIR and measures the time from the press to the total
// row, the way a user meets a search. Prints the total and the time like murako-bench.
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <string>

#include "dir_list.h"
#include "form1.h"
#include "posix_file_system.h"
#include "walker.h"

int main(int argc, char** argv)
{
    const murako::WalkProcessSettings walkSettings;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 2) {
        std::fprintf(stderr, "usage: murako-window-bench DIR\n");
        return 2;
    }
    const std::string dir = arguments[1].toStdString();

    QElapsedTimer sincePress;
    int64_t totalBytes = -1;
    int32_t rows = 0;
    double seconds = 0;
    murako::SearchController::Options options;
    options.rowWritten = [&](int32_t row, const std::string& name, int64_t bytes) {
        rows = row;
        if (name == dir + (dir.ends_with('/') ? "" : "/") + "合計") {
            seconds = static_cast<double>(sincePress.nsecsElapsed()) / 1e9;
            totalBytes = bytes;
            app.quit();
        }
    };
    murako::Form1 form(std::make_shared<murako::PosixFileSystem>(), options);
    form.show();
    if (!form.findChild<murako::DirList*>("Dir1")->SetPath(dir)) {
        std::fprintf(stderr, "%s cannot be listed\n", dir.c_str());
        return 1;
    }
    // Pressed once the window is up and idle, as a user would.
    QTimer::singleShot(0, [&] {
        sincePress.start();
        form.findChild<QPushButton*>("Command1")->click();
    });
    app.exec();
    std::printf("total_bytes=%lld entries=%d seconds=%.3f\n", static_cast<long long>(totalBytes), rows, seconds);
    return totalBytes < 0 ? 1 : 0;
}
