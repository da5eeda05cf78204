#pragma once
// "前回と比較...": the rows shown compared with a saved search of the same directory, read from its file off
// the window's thread; "比較をやめる" ends the comparison, as a new search does.

#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "kept_json.h"

class QAction;
class QMenu;
class QProgressDialog;

namespace murako {

class ResultsGrid;
class SearchController;

class CompareCommand final : public QObject {
public:
    CompareCommand(ResultsGrid& grid, SearchController& controller);
    // Waits for a file still being read.
    ~CompareCommand() override;

    // The entries of the table's menu, each enabled where it can act now.
    void AddEntries(QMenu& menu);
    // Reads the saved search at path and compares the rows shown with it; a file that cannot be read, or is
    // of another directory, is told in a message and changes nothing.
    void CompareWith(const QString& path);
    void EndComparison();
    bool Reading() const { return reader_.joinable(); }

    // Told when a comparison starts or ends.
    std::function<void()> changed;

private:
    bool CanCompare() const;
    void Choose();
    void Finish(const QString& path);
    void Tell(const QString& text);

    ResultsGrid& grid_;
    SearchController& controller_;
    QAction* compare_;
    QAction* end_;
    std::thread reader_;
    KeptJsonRead read_;  // the reader's, until it has posted Finish
    std::atomic<uint64_t> bytesRead_{0};
    QProgressDialog* progress_ = nullptr;
    QTimer progressTimer_;
    QString lastFolder_;  // of the last file compared with
};

}  // namespace murako
