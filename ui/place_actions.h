#pragma once

#include <QString>
#include <optional>
#include <string>

#include "trash_move.h"

class QWidget;

namespace murako {

class SearchController;

// What can be done with a place a search found: open its folder, copy its path, move it to the trash. Moving
// refuses first and asks second, and what was moved leaves the kept tree and every total above.
class PlaceActions {
public:
    PlaceActions(QWidget& window, SearchController& controller) : window_(window), controller_(controller) {}

    // The system's file manager at path, a directory.
    void OpenFolder(const std::string& path);
    // Whether path may be offered to open: a search's, or one of results opened from a file that this computer has.
    bool CanOpenFolder(const std::string& path) const;
    void CopyPath(const std::string& path);
    // Whether a place of the kept tree may be offered for the trash at all: a search's, while none runs.
    bool CanMove(const KeptPlace& place) const;
    // Asks, then moves path, which the search found as place, to the trash; says why when it will not or cannot.
    void MoveToTrash(const KeptPlace& place, const std::string& path);
    // Says why the directory shown, whose total row is current, is not moved from there.
    void ExplainTotal(const std::string& shownPath) const;

private:
    QString Question(const KeptPlace& place, const std::string& path) const;
    TrashRequest Request(const KeptPlace& place, const std::string& path) const;
    // Says why when the move was refused or failed; true then.
    bool Told(const TrashOutcome& outcome, const std::string& path) const;
    void Tell(const QString& text) const;

    QWidget& window_;
    SearchController& controller_;
};

// The user's home directory as the file system names it.
std::string HomeDirectory();

}  // namespace murako
