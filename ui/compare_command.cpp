#include "compare_command.h"

#include <QAction>
#include <QMenu>
#include <QMessageBox>

#include "kept_compare.h"
#include "platform.h"
#include "results_grid.h"
#include "saved_searches.h"
#include "search_run.h"

namespace murako {

CompareCommand::CompareCommand(ResultsGrid& grid, SearchController& controller, SavedSearches& files)
    : QObject(&grid), grid_(grid), controller_(controller), files_(files)
{
    compare_ = new QAction(QStringLiteral("前回と比較..."), this);
    end_ = new QAction(QStringLiteral("比較をやめる"), this);
    connect(compare_, &QAction::triggered, this, [this] { Choose(); });
    connect(end_, &QAction::triggered, this, [this] { EndComparison(); });
}

bool CompareCommand::Reading() const
{
    return files_.Reading();
}

bool CompareCommand::CanCompare() const
{
    return !Reading() && !controller_.Searching() && controller_.Kept() && !controller_.ShownPath().empty();
}

void CompareCommand::AddEntries(QMenu& menu)
{
    compare_->setEnabled(CanCompare());
    menu.addAction(compare_);
    if (controller_.Comparison())
        menu.addAction(end_);
}

void CompareCommand::Choose()
{
    if (!CanCompare())
        return;
    if (const QString path = files_.ChooseFile(QStringLiteral("前回と比較")); !path.isEmpty())
        CompareWith(path);
}

void CompareCommand::CompareWith(const QString& path)
{
    if (CanCompare())
        files_.ReadFile(path, QStringLiteral("%1 を読み込めませんでした。").arg(path),
                        [this](const QString&, KeptJsonRead read) { Finish(std::move(read)); });
}

void CompareCommand::Finish(KeptJsonRead read)
{
    if (controller_.Searching() || !controller_.Kept())
        return Tell(QStringLiteral("検索中のため、比較できません。"));
    KeptComparisonMade made = KeptComparison::Make(std::move(read.tree), controller_.Kept()->BasePath(), PathSeparator());
    if (made.failure)
        return Tell(QString::fromStdString(ReasonText(made.failure)));
    if (!controller_.Compare(std::move(made.comparison)))
        return Tell(QStringLiteral("表示しているディレクトリは検索結果にないため、比較できません。"));
    grid_.ShowSortOrder(controller_.Order());
    if (changed)
        changed();
}

void CompareCommand::EndComparison()
{
    controller_.EndComparison();
    grid_.ShowSortOrder(controller_.Order());
    if (changed)
        changed();
}

void CompareCommand::Tell(const QString& text)
{
    QMessageBox::warning(grid_.window(), QStringLiteral("Murako"), text);
}

}  // namespace murako
