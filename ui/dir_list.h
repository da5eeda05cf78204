#pragma once

#include <QAbstractListModel>
#include <QListView>
#include <string>
#include <vector>

#include "packed_names.h"

namespace murako {

// The rows of the directory list, replaced all at once so that a directory of any size opens in one step.
class DirListModel : public QAbstractListModel {
public:
    static constexpr int DepthRole = Qt::UserRole;  // how many levels an entry is indented

    using QAbstractListModel::QAbstractListModel;
    // The texts of the open directory's ancestors, root first, then its own; below them its subdirectories,
    // whose texts are made as they are shown, so a directory of a million subdirectories holds their names once.
    void SetEntries(std::vector<QString> open, PackedNames subdirectories);
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    std::vector<QString> open_;
    PackedNames subdirectories_;
};

// The directory list: the open directory under its ancestors, its subdirectories below it.
// Index -1 is the open directory, 0 to ListCount()-1 its subdirectories sorted by name, -2 and lower
// its ancestors from the nearest upwards. Paths are byte strings, as the file system holds them.
class DirList : public QListView {
public:
    explicit DirList(QWidget* parent = nullptr);

    const std::string& Path() const { return path_; }
    // Opens a directory; false, with nothing changed, when it cannot be listed.
    bool SetPath(const std::string& path);

    int ListCount() const { return static_cast<int>(subdirectories_.Size()); }
    // The full path of entry index; throws std::out_of_range outside the list.
    std::string List(int index) const;
    int ListIndex() const;
    void SetListIndex(int index);


    // The row of entry index, for pointing at it.
    QRect EntryRect(int index) const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Opens entry index, the way a double click does; shows a message when it cannot be opened.
    void OpenEntry(int index);
    int RowOf(int index) const { return index + static_cast<int>(ancestors_.size()) + 1; }
    int IndexOf(int row) const { return row - static_cast<int>(ancestors_.size()) - 1; }

    DirListModel model_;
    std::string path_;
    std::vector<std::string> ancestors_;       // root first
    PackedNames subdirectories_;  // names, sorted; shared with the model
};


}  // namespace murako
