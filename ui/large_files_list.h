#pragma once
// A list of files of the kept tree, one row each: its size, its path on one line and, where asked, when it
// last changed; Enter or a double click, and the menu key or a right click, tell which file.

#include <QTableWidget>
#include <functional>
#include <vector>

#include "largest_files.h"

namespace murako {

class LargeFilesList final : public QTableWidget {
public:
    // withTimes: a third column, "更新日時".
    LargeFilesList(const QString& accessibleName, bool withTimes, QWidget* parent = nullptr);

    // sizeText gives a size as the cell shows it, sizeTip as its tooltip does.
    void Fill(std::vector<LargeFile> files, const std::function<QString(int64_t)>& sizeText,
              const std::function<QString(int64_t)>& sizeTip);
    void Clear();
    const std::vector<LargeFile>& Files() const { return files_; }

    std::function<void(const LargeFile& file)> opened;
    std::function<void(const LargeFile& file, QPoint at)> menuAsked;  // at: in global coordinates

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    std::vector<LargeFile> files_;
    bool withTimes_;
};

}  // namespace murako
