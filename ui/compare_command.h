#pragma once
// "前回と比較...": the rows shown compared with a saved search of the same directory, read from its file off
// the window's thread; "比較をやめる" ends the comparison, as a new search does.

#include <QObject>
#include <QString>
#include <functional>

#include "kept_json.h"

class QAction;
class QMenu;

namespace murako {

class ResultsGrid;
class SavedSearches;
class SearchController;

class CompareCommand final : public QObject {
public:
    // Files are chosen and read by files, as those opened are.
    CompareCommand(ResultsGrid& grid, SearchController& controller, SavedSearches& files);

    // The entries of the table's menu, each enabled where it can act now.
    void AddEntries(QMenu& menu);
    // Reads the saved search at path and compares the rows shown with it; a file that cannot be read, or is
    // of another directory, is told in a message and changes nothing.
    void CompareWith(const QString& path);
    void EndComparison();
    bool Reading() const;

    // Told when a comparison starts or ends.
    std::function<void()> changed;

private:
    bool CanCompare() const;
    void Choose();
    void Finish(KeptJsonRead read);
    void Tell(const QString& text);

    ResultsGrid& grid_;
    SearchController& controller_;
    SavedSearches& files_;
    QAction* compare_;
    QAction* end_;
};

}  // namespace murako
