#pragma once
// The map by age: the choice of what the map's colours tell, the legend of the age classes, and the tab that
// gives the space and the files per year and per month, whose rows pick out their files in the map.

#include <QTreeWidget>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

#include "file_ages.h"

class QRadioButton;

namespace murako {

enum class MapColouring : uint8_t { Type, Age, Growth };

// "色分け: 種類 / 更新日時 / 増減", 増減 only while comparing; the choice lasts as long as the window.
class MapColourChoice final : public QWidget {
public:
    // changed: told once the choice changed, by the user or as a comparison came or went.
    explicit MapColourChoice(std::function<void()> changed, QWidget* parent = nullptr);
    MapColouring Chosen() const { return chosen_; }
    void Choose(MapColouring colouring);
    // A comparison coming shows its growth, as it always did; one going takes its choice with it. Tells no one:
    // the caller recolours.
    void SetComparing(bool comparing);

private:
    MapColouring chosen_ = MapColouring::Type;
    std::vector<std::pair<QRadioButton*, MapColouring>> buttons_;
    std::function<void()> changed_;
};

// The legend of the age classes as rich text, each class's swatch before its name, and in words for a reader:
// "色分け: 黄色 = 1 週間以内、…".
QString AgeLegendHtml();
QString AgeLegendWords();

// The tab "更新日時": a row for all the files, the last 12 months and each of their months, each year, and the
// unknown times, with the number of files, the size and a bar of the share.
class AgeTree final : public QTreeWidget {
public:
    explicit AgeTree(QWidget* parent = nullptr);
    // byCount: the bars show the share of the files rather than of the size.
    void Fill(const AgeSpread& spread, bool byCount, const std::function<QString(int64_t)>& sizeText,
              const std::function<QString(int64_t)>& sizeTip);
    // The span of the row chosen; nullopt for "すべて" or none.
    std::optional<AgeSpan> Chosen() const;

    // Told as the user chooses a row.
    std::function<void(std::optional<AgeSpan> span)> chosen;

private:
    QTreeWidgetItem* AddRow(QTreeWidgetItem* parent, const QString& name, int64_t files, int64_t bytes,
                            std::optional<AgeSpan> span);

    std::vector<std::optional<AgeSpan>> spans_;  // by the number each row holds
    double byCountTotal_ = 0;
    double bySizeTotal_ = 0;
    bool byCount_ = false;
    std::function<QString(int64_t)> sizeText_, sizeTip_;
    bool filling_ = false;
};

}  // namespace murako
