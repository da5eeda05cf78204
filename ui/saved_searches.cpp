#include "saved_searches.h"

#include <QApplication>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "kept_json.h"
#include "opened_places.h"
#include "path_text.h"
#include "platform.h"
#include "save_file.h"
#include "search_run.h"

namespace murako {

namespace {

constexpr int ProgressSteps = 1000;
constexpr int ProgressInterval = 100;  // ms

QString Filter()
{
    return QStringLiteral("検索結果 (*.json)");
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File OpenForReading(const QString& path)
{
#ifdef _WIN32
    return File(_wfopen(reinterpret_cast<const wchar_t*>(path.utf16()), L"rb"));
#else
    return File(std::fopen(QFile::encodeName(path).constData(), "rb"));
#endif
}

}  // namespace

// Shared by the window and the thread that reads; the thread alone writes what it reads until it posts
// Finish.
struct SavedSearches::ReadState {
    QString path;
    QString failed;  // what could not be done when the file cannot be read
    Read done;
    File file;
    qint64 size = 0;
    QDateTime modified;
    std::atomic<uint64_t> bytesRead{0};
    std::atomic<bool> givenUp{false};
    KeptJsonRead read;
};

SavedSearches::SavedSearches(QWidget& window, SearchController& controller, const ResultsTable& table,
                             std::function<void()> opened)
    : QObject(&window), window_(window), controller_(controller), table_(table), opened_(std::move(opened))
{
    connect(&progressTimer_, &QTimer::timeout, this, [this] { ShowProgress(); });
}

SavedSearches::~SavedSearches()
{
    if (!reading_)
        return;
    reading_->givenUp.store(true);
    reader_.join();
    QApplication::restoreOverrideCursor();
}

bool SavedSearches::CanSave() const
{
    const KeptTree* kept = controller_.Kept();
    const std::string& shown = controller_.ShownPath();
    // A cancelled search keeps what it counted, marked as cut short; a directory searched again and cut short
    // leaves rows without their total beside the older tree, which is not what they show.
    const bool whole = table_.Rows() > ResultsTable::FixedRows &&
                       table_.Facts(table_.Rows() - 1).kind == RowKind::Total;
    return kept && !controller_.Searching() && !shown.empty() && kept->Find(shown, PathSeparator()) &&
           (whole || kept->CutShort());
}

QString SavedSearches::StartFolder() const
{
    if (!lastFolder_.isEmpty())
        return lastFolder_;
    const KeptTree* kept = controller_.Kept();
    if (kept && QFileInfo(PathText(kept->BasePath())).isDir())
        return PathText(kept->BasePath());
    return QDir::homePath();
}

void SavedSearches::Save()
{
    if (!CanSave())
        return;
    const KeptTree& tree = *controller_.Kept();
    const std::string base = LastPathName(tree.BasePath());
    const QString name = (base.empty() ? QStringLiteral("Murako") : PathText(base)) + QLatin1Char('-') +
                         QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    const QString path = ChooseSavePath(&window_, QStringLiteral("検索結果を保存"), Filter(), QStringLiteral("json"),
                                        StartFolder(), name);
    if (path.isEmpty())
        return;
    // About half a second for two million entries: the window waits, with the pointer saying so.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    window_.repaint();
    const Failure failure = SaveKeptJson(tree, PathBytes(path), MURAKO_VERSION);
    QApplication::restoreOverrideCursor();
    if (failure) {
        // The size is not known before the end, and a full disk speaks for itself.
        Tell(QStringLiteral("%1 に保存できませんでした。\n%2")
                 .arg(path, WhyNotSaved(path, 0, QString::fromStdString(ReasonText(failure)))));
        return;
    }
    lastFolder_ = QFileInfo(path).absolutePath();
}

void SavedSearches::Open()
{
    if (Reading() || controller_.Searching())
        return;
    const QString path = ChooseFile(QStringLiteral("検索結果を開く"));
    if (!path.isEmpty())
        OpenFile(path);
}

QString SavedSearches::ChooseFile(const QString& title)
{
    return ChooseOpenPath(&window_, title, Filter(), StartFolder());
}

void SavedSearches::OpenFile(const QString& path)
{
    if (controller_.Searching())
        return;
    ReadFile(path, QStringLiteral("%1 を開けませんでした。").arg(path), [this](const QString& path, KeptJsonRead read) {
        // A search started meanwhile is what the user wants now.
        if (controller_.Searching())
            return;
        const QDateTime written =
            read.timestamp ? QDateTime::fromSecsSinceEpoch(*read.timestamp) : QFileInfo(path).lastModified();
        QString note = QFileInfo(path).fileName() + QString::fromUtf8(ProgressSeparator) +
                       written.toString(QStringLiteral("yyyy/MM/dd HH:mm")) + QStringLiteral(" の検索結果");
        // Nothing of such a file is acted on: the user is told why beside its name.
        if (const Failure elsewhere = TopActsHere(*read.tree))
            note += QString::fromUtf8(ProgressSeparator) + QString::fromStdString(ReasonText(elsewhere));
        else if (HoldsEntriesNamedAlike(*read.tree))
            note += QString::fromUtf8(ProgressSeparator) + QString::fromStdString(ReasonText({Reason::HoldsNamedAlike, {}, {}}));
        controller_.ShowImported(std::move(read.tree), note.toStdString());
        opened_();
    });
}

void SavedSearches::ReadFile(const QString& path, const QString& failed, Read done)
{
    if (Reading())
        return;
    auto reading = std::make_shared<ReadState>();
    reading->file = OpenForReading(path);
    if (!reading->file) {
        Tell(failed + QLatin1Char('\n') + QString::fromStdString(ReasonText(FailureFromErrno(errno, Reason::CannotOpen))));
        return;
    }
    const QFileInfo info(path);
    reading->path = path;
    reading->failed = failed;
    reading->done = std::move(done);
    reading->size = info.size();
    reading_ = reading;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (reading->size > ProgressFrom) {
        progress_ = new QProgressDialog(QStringLiteral("%1 を読み込んでいます...").arg(info.fileName()),
                                        QStringLiteral("キャンセル"), 0, ProgressSteps, &window_);
        progress_->setWindowTitle(QStringLiteral("Murako"));
        progress_->setWindowModality(Qt::WindowModal);
        progress_->setAutoReset(false);
        progress_->setAutoClose(false);
        progress_->setMinimumDuration(0);
        connect(progress_, &QProgressDialog::canceled, this, [reading] { reading->givenUp.store(true); });
        progress_->setValue(0);
        progressTimer_.start(ProgressInterval);
    }
    reader_ = std::thread([this, reading] {
        std::FILE* in = reading->file.get();
        try {
            reading->read = ReadKeptJsonFile(in, [&](uint64_t bytes) {
                reading->bytesRead.store(bytes, std::memory_order_relaxed);
                // At the file's end the reader stops with its next buffer: the user gave up.
                if (reading->givenUp.load())
                    std::fseek(in, 0, SEEK_END);
            });
        } catch (const std::exception& error) {
            reading->read = {nullptr, {Reason::CannotOpen, error.what(), {}}, false, {}};
        }
        reading->file.reset();
        QMetaObject::invokeMethod(this, [this] { Finish(); }, Qt::QueuedConnection);
    });
}

void SavedSearches::ShowProgress()
{
    if (progress_ && reading_ && reading_->size > 0)
        progress_->setValue(static_cast<int>(
            std::min<uint64_t>(reading_->bytesRead.load(std::memory_order_relaxed) * ProgressSteps / reading_->size,
                               ProgressSteps)));
}

void SavedSearches::Finish()
{
    reader_.join();
    const std::shared_ptr<ReadState> reading = std::move(reading_);
    progressTimer_.stop();
    delete progress_;
    progress_ = nullptr;
    QApplication::restoreOverrideCursor();
    if (reading->givenUp.load())
        return;
    if (!reading->read.tree) {
        Tell(reading->failed + QLatin1Char('\n') + QString::fromStdString(ReasonText(reading->read.failure)));
        return;
    }
    lastFolder_ = QFileInfo(reading->path).absolutePath();
    reading->done(reading->path, std::move(reading->read));
}

void SavedSearches::Tell(const QString& text) const
{
    QMessageBox::warning(&window_, QStringLiteral("Murako"), text);
}

}  // namespace murako
