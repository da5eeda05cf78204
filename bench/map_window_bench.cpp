// Searches DIR (by default /) in the real window offscreen, keeping its tree, then opens the map window with
// its map at 1920×1080 and measures what a user waits for: the map's layout and first paint, the feedback
// to a pointer moving over it, the lists of the largest files, of the space by type and by age, and of the old
// large files, read from the kept tree, and the map's layout and first paint coloured by age. Prints each as
// the median and the worst of several tries, in milliseconds, and the UI thread's processor time beside it.
#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "dir_list.h"
#include "form1.h"
#include "largest_files.h"
#include "map_window.h"
#include "path_text.h"
#include "posix_file_system.h"
#include "walk_pace.h"

namespace {

struct Times {
    std::vector<double> ms;
    std::vector<double> cpuMs;  // the UI thread's processor time: what a loaded machine does not stretch
    void Print(const char* name) const
    {
        auto sortedCopy = [](std::vector<double> values) {
            std::sort(values.begin(), values.end());
            return values;
        };
        const std::vector<double> sorted = sortedCopy(ms);
        const std::vector<double> cpu = sortedCopy(cpuMs);
        std::printf("%s_ms median=%.2f max=%.2f first=%.2f cpu_median=%.2f cpu_max=%.2f tries=%zu\n", name,
                    sorted[sorted.size() / 2], sorted.back(), ms.front(), cpu[cpu.size() / 2], cpu.back(),
                    sorted.size());
    }
};

double ThreadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

Times Measure(int tries, const std::function<void()>& run)
{
    Times times;
    for (int i = 0; i < tries; ++i) {
        QElapsedTimer timer;
        const double cpuStart = ThreadCpuMs();
        timer.start();
        run();
        times.ms.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        times.cpuMs.push_back(ThreadCpuMs() - cpuStart);
    }
    return times;
}

}  // namespace

int main(int argc, char** argv)
{
    const murako::WalkProcessSettings walkSettings;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() > 2) {
        std::fprintf(stderr, "usage: murako-map-bench [DIR]\n");
        return 2;
    }
    const std::string dir = arguments.size() == 2 ? arguments[1].toStdString() : "/";
    murako::SearchController::Options options;
    options.keepTree = true;
    options.treeKept = [&](const murako::KeptTree&) { QTimer::singleShot(0, &app, &QApplication::quit); };
    murako::Form1 form(std::make_shared<murako::PosixFileSystem>(), options);
    form.show();
    if (!form.findChild<murako::DirList*>("Dir1")->SetPath(dir)) {
        std::fprintf(stderr, "%s cannot be listed\n", dir.c_str());
        return 1;
    }
    QTimer::singleShot(0, [&] { form.findChild<QPushButton*>("Command1")->click(); });
    app.exec();
    const murako::KeptTree* tree = form.Controller().Kept();
    if (!tree) {
        std::fprintf(stderr, "no tree was kept\n");
        return 1;
    }
    std::printf("entries=%lld\n", static_cast<long long>(tree->Entries()));

    // The map at 1920×1080, the lists beside it.
    form.ShowMap();
    murako::MapWindow& map = *form.Map();
    murako::MapView& view = map.View();
    // The splitter shares out each change of the window's size: a few rounds bring the map to its size.
    for (int round = 0; round < 4 && view.size() != QSize(1920, 1080); ++round) {
        map.resize(map.size() + QSize(1920, 1080) - view.size());
        map.findChild<QSplitter*>()->setSizes({1920, 400});
        app.processEvents();
    }
    std::printf("map_pixels=%dx%d items=%zu\n", view.width(), view.height(), view.Items().size());

    const murako::KeptDirectory* base = tree->Find(form.Controller().ShownPath(), murako::PathSeparator());
    const murako::SizeMeasure measure = form.Controller().Measure();
    Measure(7, [&] {
        view.Show(base, measure);
        view.repaint();
    }).Print("layout_and_first_paint");

    app.processEvents();  // what the window still had to do, so that no hover pays for it
    std::mt19937 random(1);
    Measure(200, [&] {
        const QPointF at(random() % view.width(), random() % view.height());
        QMouseEvent move(QEvent::MouseMove, at, view.mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&view, &move);
        app.processEvents();
    }).Print("hover_feedback");

    Measure(7, [&] { murako::LargestFiles(*base, measure, tree->BasePath(), murako::PathSeparator()); })
        .Print("largest_files");
    Measure(7, [&] { murako::SpaceByType(*base, measure); }).Print("space_by_type");

    const auto now = static_cast<murako::ModifiedTime>(std::time(nullptr));
    Measure(7, [&] { murako::SpreadByAge(*base, measure, now, murako::LocalUtcOffset(now)); }).Print("spread_by_age");
    Measure(7, [&] { murako::OldLargeFiles(*base, measure, tree->BasePath(), murako::PathSeparator(), now, 1); })
        .Print("old_large_files");
    map.Colouring().Choose(murako::MapColouring::Age);
    app.processEvents();
    Measure(7, [&] {
        view.Show(base, measure);
        view.repaint();
    }).Print("layout_and_first_paint_by_age");
    return 0;
}
