#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <thread>

#include "kept_json.h"
#include "results_table.h"

class QProgressDialog;
class QWidget;

namespace murako {

class SearchController;

// The results of a search kept as a file and shown again: the whole kept tree saved as an export file, and
// such a file, this program's or another's, read off the window's thread and shown as the finished search of
// its top directory, its name and date in the status bar. Comparing reads its files here too: one reading at
// a time, one chooser and one memory of the folder last used.
class SavedSearches final : public QObject {
public:
    // A file larger than this shows how far its reading has come, and can be given up.
    static constexpr qint64 ProgressFrom = qint64{50} << 20;

    // Told on the window's thread of a file read whole, with its tree, unless the reading was given up.
    using Read = std::function<void(const QString& path, KeptJsonRead read)>;

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
    // Reads path and shows it once it is whole; a file that cannot be read says why and changes nothing.
    void OpenFile(const QString& path);
    bool Reading() const { return reading_ != nullptr; }

    // Asks which export file, titled title; empty when the user gives up.
    QString ChooseFile(const QString& title);
    // Reads path off the window's thread and tells read once it is whole; a file that cannot be read says why
    // (what the user meant by it, in failed) and tells nothing. Nothing while another file is read.
    void ReadFile(const QString& path, const QString& failed, Read read);

private:
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
