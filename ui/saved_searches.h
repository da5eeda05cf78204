#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <thread>

#include "results_table.h"

class QProgressDialog;
class QWidget;

namespace murako {

class SearchController;

// The results of a search kept as a file and shown again: the whole kept tree saved as an export file, and
// such a file, this program's or another's, read off the window's thread and shown as the finished search of
// its top directory, its name and date in the status bar.
class SavedSearches final : public QObject {
public:
    // A file larger than this shows how far its reading has come, and can be given up.
    static constexpr qint64 ProgressFrom = qint64{50} << 20;

    // opened is told once a file's results are shown.
    SavedSearches(QWidget& window, SearchController& controller, const ResultsTable& table,
                  std::function<void()> opened);
    // Gives up a reading still going and waits for it to stop.
    ~SavedSearches() override;

    // Whether the table shows finished results of the kept tree, which a search in progress may not.
    bool CanSave() const;
    // Asks where, then saves the whole kept tree there, the window busy meanwhile; says why when it cannot.
    void Save();
    // Asks which file, then opens it.
    void Open();
    bool Reading() const { return reading_ != nullptr; }

private:
    // Reads path and shows it once it is whole; a file that cannot be read says why and changes nothing.
    void OpenFile(const QString& path);
    struct ReadState;
    void ShowProgress();
    void Finish();
    // Beside the last file saved or opened, else the folder searched, else the home folder.
    QString StartFolder() const;
    void Tell(const QString& text) const;

    QWidget& window_;
    SearchController& controller_;
    const ResultsTable& table_;
    std::function<void()> opened_;
    QString lastFolder_;
    std::shared_ptr<ReadState> reading_;
    std::thread reader_;
    QProgressDialog* progress_ = nullptr;
    QTimer progressTimer_;
};

}  // namespace murako
