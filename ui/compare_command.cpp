#include "compare_command.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QProgressDialog>
#include <algorithm>
#include <cstdint>

#include "kept_compare.h"
#include "platform.h"
#include "results_grid.h"
#include "search_run.h"

namespace murako {

namespace {

constexpr int ProgressInterval = 100;     // ms between looks at the bytes read
constexpr int ProgressShownAfter = 400;  // ms: a small file is read before any dialog shows

}  // namespace

CompareCommand::CompareCommand(ResultsGrid& grid, SearchController& controller)
    : QObject(&grid), grid_(grid), controller_(controller)
{
    compare_ = new QAction(QStringLiteral("前回と比較..."), this);
    end_ = new QAction(QStringLiteral("比較をやめる"), this);
    connect(compare_, &QAction::triggered, this, [this] { Choose(); });
    connect(end_, &QAction::triggered, this, [this] { EndComparison(); });
    connect(&progressTimer_, &QTimer::timeout, this, [this] {
        if (progress_)
            progress_->setValue(static_cast<int>(std::min<uint64_t>(bytesRead_.load() >> 10, INT32_MAX)));
    });
}

CompareCommand::~CompareCommand()
{
    if (reader_.joinable())
        reader_.join();
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
    const QString folder = !lastFolder_.isEmpty() ? lastFolder_ : PathText(controller_.Kept()->BasePath());
    QFileDialog dialog(grid_.window(), QStringLiteral("前回と比較"), folder,
                       QStringLiteral("検索結果 (*.json);;すべてのファイル (*)"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        CompareWith(dialog.selectedFiles().front());
}

void CompareCommand::CompareWith(const QString& path)
{
    if (!CanCompare())
        return;
    lastFolder_ = QFileInfo(path).absolutePath();
    bytesRead_ = 0;
    progress_ = new QProgressDialog(QStringLiteral("前回の検索結果を読み込んでいます..."), QString(), 0,
                                    static_cast<int>(std::min<qint64>(QFileInfo(path).size() >> 10, INT32_MAX)),
                                    grid_.window());
    progress_->setWindowTitle(QStringLiteral("Murako"));
    progress_->setWindowModality(Qt::WindowModal);
    progress_->setMinimumDuration(ProgressShownAfter);
    progress_->setValue(0);
    progressTimer_.start(ProgressInterval);
    // A saved search of a whole disk takes seconds to read: the window stays drawn meanwhile.
    reader_ = std::thread([this, path, bytes = PathBytes(path)] {
        read_ = OpenKeptJson(bytes, [this](uint64_t read) { bytesRead_.store(read); });
        QMetaObject::invokeMethod(this, [this, path] { Finish(path); }, Qt::QueuedConnection);
    });
}

void CompareCommand::Finish(const QString& path)
{
    reader_.join();
    progressTimer_.stop();
    delete progress_;
    progress_ = nullptr;
    KeptJsonRead read = std::move(read_);
    if (!read.tree)
        return Tell(QStringLiteral("%1 を読み込めませんでした。\n%2").arg(path, QString::fromStdString(read.error)));
    if (controller_.Searching() || !controller_.Kept())
        return Tell(QStringLiteral("検索中のため、比較できません。"));
    std::string error;
    std::unique_ptr<KeptComparison> comparison =
        KeptComparison::Make(std::move(read.tree), controller_.Kept()->BasePath(), PathSeparator(), error);
    if (!comparison)
        return Tell(QString::fromStdString(error));
    if (!controller_.Compare(std::move(comparison)))
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
