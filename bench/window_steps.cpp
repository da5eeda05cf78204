// Measures how long the window takes to go down into a directory and up again from the kept results of a
// search: it searches DIR (/ when none is given) offscreen, then double-clicks every subdirectory row and
// presses Backspace, going two levels further down below the largest subdirectory row of each, and times
// each step from the click or key to the table filled.
// Usage: murako-window-steps [DIR]
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "dir_list.h"
#include "form1.h"
#include "posix_file_system.h"
#include "results_grid.h"
#include "walk_pace.h"

namespace {

using murako::ResultsTable;
using murako::RowKind;

struct Step {
    double ms;
    std::string shown;  // the directory the step showed
    bool operator<(const Step& other) const { return ms < other.ms; }
};

struct Steps {
    std::vector<Step> down;
    std::vector<Step> up;
    int searched = 0;  // steps that found no kept results and searched instead
    int missed = 0;    // steps that changed nothing
};

class Stepper {
public:
    explicit Stepper(murako::Form1& form)
        : form_(form), grid_(form.findChild<murako::ResultsGrid*>("Grid1"))
    {
        // The grid's keys work in an active window, on the focused grid.
        if (!QTest::qWaitForWindowActive(&form))
            qWarning("the window did not become active: keys may not reach the grid");
        grid_->setFocus();
    }

    // Goes down into each subdirectory row shown and back up; levels more below the largest of them.
    void DownAndUp(int levels)
    {
        const ResultsTable& table = form_.Table();
        std::vector<std::string> names;
        std::string largest;
        int64_t largestBytes = -1;
        for (int32_t row = ResultsTable::FixedRows; row < table.Rows(); ++row) {
            const murako::RowFacts& facts = table.Facts(row);
            if (facts.kind != RowKind::Subdirectory)
                continue;
            names.push_back(table.TextAt(row, 1));
            if (facts.bytes.value_or(0) > largestBytes) {
                largestBytes = facts.bytes.value_or(0);
                largest = names.back();
            }
        }
        for (const std::string& name : names) {
            const int32_t row = RowNamed(name);
            if (row < 0)
                continue;
            // After the grid has followed the current cell, which would scroll the row away again.
            Settle();
            grid_->ScrollToRow(row);
            steps.down.push_back(Time([&] {
                QTest::mouseDClick(grid_->viewport(), Qt::LeftButton, {}, grid_->CellRect(row, 1).center());
            }));
            if (name == largest && levels > 1)
                DownAndUp(levels - 1);
            steps.up.push_back(Time([&] { QTest::keyClick(grid_, Qt::Key_Backspace); }));
        }
    }

    Steps steps;

private:
    int32_t RowNamed(const std::string& name) const
    {
        for (int32_t row = ResultsTable::FixedRows; row < form_.Table().Rows(); ++row)
            if (form_.Table().TextAt(row, 1) == name)
                return row;
        return -1;
    }
    // The grid laid out and painted, and nothing else waiting, before a step is timed.
    void Settle() const
    {
        if (!QTest::qWaitFor([&] { return !grid_->CatchingUp(); }, 1000))
            std::fprintf(stderr, "the table still catching up after a second\n");
        QCoreApplication::processEvents();
    }
    template <typename Act>
    Step Time(Act act)
    {
        Settle();
        const std::string shown = form_.Controller().ShownPath();
        QElapsedTimer clock;
        clock.start();
        act();
        const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        if (form_.Controller().Searching()) {
            ++steps.searched;
            std::fprintf(stderr, "searched: %s\n", form_.Controller().SearchedPath().c_str());
            if (!QTest::qWaitFor([&] { return !form_.Controller().Searching(); }, 600000))
                std::fprintf(stderr, "still searching after ten minutes\n");
        } else if (form_.Controller().ShownPath() == shown) {
            ++steps.missed;
            std::fprintf(stderr, "nothing happened in %s\n", shown.c_str());
        }
        return {ms, form_.Controller().ShownPath()};
    }

    murako::Form1& form_;
    murako::ResultsGrid* grid_;
};

void Report(const char* what, std::vector<Step> steps)
{
    if (steps.empty()) {
        std::printf("%s: no steps\n", what);
        return;
    }
    std::sort(steps.begin(), steps.end());
    std::printf("%s: steps=%zu median_ms=%.2f max_ms=%.2f (%s)\n", what, steps.size(),
                steps[steps.size() / 2].ms, steps.back().ms, steps.back().shown.c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    const murako::WalkProcessSettings walkSettings;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::string dir = argc > 1 ? argv[1] : "/";
    murako::Form1 form(std::make_shared<murako::PosixFileSystem>());
    form.show();
    if (!form.findChild<murako::DirList*>("Dir1")->SetPath(dir)) {
        std::fprintf(stderr, "%s cannot be listed\n", dir.c_str());
        return 1;
    }
    QElapsedTimer search;
    search.start();
    QTest::mouseClick(form.findChild<QPushButton*>("Command1"), Qt::LeftButton);
    if (!QTest::qWaitFor([&] { return !form.Controller().Searching(); }, 3600000) || !form.Controller().Kept()) {
        std::fprintf(stderr, "the search of %s did not finish\n", dir.c_str());
        return 1;
    }
    std::printf("search: seconds=%.1f entries_kept=%lld\n", static_cast<double>(search.elapsed()) / 1000,
                static_cast<long long>(form.Controller().Kept()->Entries()));

    Stepper stepper(form);
    stepper.DownAndUp(3);
    Report("down", stepper.steps.down);
    Report("up", stepper.steps.up);
    std::vector<Step> all = stepper.steps.down;
    all.insert(all.end(), stepper.steps.up.begin(), stepper.steps.up.end());
    Report("all", all);
    std::printf("searched_instead=%d missed=%d\n", stepper.steps.searched, stepper.steps.missed);
    return stepper.steps.searched == 0 && stepper.steps.missed == 0 ? 0 : 1;
}
