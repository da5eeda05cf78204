#pragma once
// What later searches leave out, chosen from the table's context menu and kept for the session: other file
// systems, directories of caches, and shell patterns, edited in a dialog that reads and writes pattern files.

#include <QDialog>
#include <QObject>
#include <QString>
#include <string>
#include <vector>

#include "search_scope.h"

class QAction;
class QMenu;
class QPlainTextEdit;

namespace murako {

class ResultsGrid;
class ResultsTable;
class SearchController;

// One pattern a line; OK keeps them only when every one can be matched, else it says which and why.
class PatternDialog final : public QDialog {
public:
    PatternDialog(const std::vector<std::string>& patterns, QWidget* parent);
    // The patterns kept when the dialog was accepted.
    const std::vector<std::string>& Patterns() const { return patterns_; }
    // Why the lines cannot be kept, naming the first that cannot be matched; empty when they can.
    static QString Problem(const std::vector<std::string>& patterns);

    void accept() override;

private:
    void Load();
    void SaveAs();
    std::vector<std::string> Lines() const;
    void Tell(const QString& text);

    QPlainTextEdit* edit_;
    std::vector<std::string> patterns_;
    QString lastFolder_;
};

class ScopeCommands final : public QObject {
public:
    ScopeCommands(ResultsGrid& grid, const ResultsTable& table, SearchController& controller);

    // The entries of the table's menu, checked as later searches will count.
    void AddEntries(QMenu& menu);

private:
    void Choose(void (*change)(SearchScope&, bool), bool on);
    void EditPatterns();
    void ExcludeRow();

    ResultsGrid& grid_;
    const ResultsTable& table_;
    SearchController& controller_;
    QAction* oneFileSystem_;
    QAction* excludeCaches_;
    QAction* patterns_;
    QAction* excludeRow_;
};

}  // namespace murako
