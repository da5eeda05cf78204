#include "scope_commands.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

#include "results_grid.h"
#include "search_run.h"
#include "shell_pattern.h"

namespace murako {

namespace {

const QString kRule = QStringLiteral(
    "1 行に 1 つのパターン。du の --exclude と同じく、名前とパスの末尾の各部分"
    "（区切りの後ろ）に照合します。* は / を含む任意の文字列、? は 1 文字、[...] はその中の 1 文字に一致します。"
    "\\ の次の文字はそのまま照合します。次の検索から適用されます。");

// A path as a pattern that matches it alone: every character a pattern reads otherwise is made plain.
std::string PlainPattern(const std::string& path)
{
    std::string pattern;
    for (const char c : path) {
        if (c == '*' || c == '?' || c == '[' || c == '\\')
            pattern += '\\';
        pattern += c;
    }
    return pattern;
}

}  // namespace

PatternDialog::PatternDialog(const std::vector<std::string>& patterns, QWidget* parent)
    : QDialog(parent), edit_(new QPlainTextEdit(this)), patterns_(patterns)
{
    setWindowTitle(QStringLiteral("除外するパターン"));
    auto* rule = new QLabel(kRule, this);
    rule->setWordWrap(true);
    QStringList lines;
    for (const std::string& pattern : patterns)
        lines << QString::fromStdString(pattern);
    edit_->setPlainText(lines.join(QLatin1Char('\n')));
    edit_->setAccessibleName(QStringLiteral("除外するパターン"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    connect(buttons->addButton(QStringLiteral("ファイルから読み込む..."), QDialogButtonBox::ActionRole),
            &QPushButton::clicked, this, &PatternDialog::Load);
    connect(buttons->addButton(QStringLiteral("ファイルに保存..."), QDialogButtonBox::ActionRole),
            &QPushButton::clicked, this, &PatternDialog::SaveAs);
    connect(buttons, &QDialogButtonBox::accepted, this, &PatternDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &PatternDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(rule);
    layout->addWidget(edit_);
    layout->addWidget(buttons);
    resize(560, 360);
}

QString PatternDialog::Problem(const std::vector<std::string>& patterns)
{
    for (const std::string& pattern : patterns)
        if (const std::optional<std::string> problem = PatternProblem(pattern))
            return QStringLiteral("「%1」: %2").arg(QString::fromStdString(pattern), QString::fromStdString(*problem));
    return {};
}

void PatternDialog::accept()
{
    const std::vector<std::string> lines = Lines();
    if (const QString problem = Problem(lines); !problem.isEmpty()) {
        Tell(QStringLiteral("このパターンは使えません。\n") + problem);
        return;
    }
    patterns_ = lines;
    QDialog::accept();
}

std::vector<std::string> PatternDialog::Lines() const
{
    return PatternsFromText(edit_->toPlainText().toStdString());
}

void PatternDialog::Load()
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("パターンファイルを開く"), lastFolder_);
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        Tell(QStringLiteral("%1 を読めません: %2").arg(path, file.errorString()));
        return;
    }
    lastFolder_ = QFileInfo(path).absolutePath();
    edit_->setPlainText(QString::fromUtf8(file.readAll()));
}

void PatternDialog::SaveAs()
{
    const std::vector<std::string> lines = Lines();
    if (const QString problem = Problem(lines); !problem.isEmpty()) {
        Tell(QStringLiteral("このパターンは使えないため、保存しません。\n") + problem);
        return;
    }
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("パターンファイルに保存"), lastFolder_);
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    std::string text;
    for (const std::string& line : lines)
        text += line + '\n';
    if (!file.open(QIODevice::WriteOnly) || file.write(text.data(), static_cast<qint64>(text.size())) < 0 ||
        !file.commit()) {
        Tell(QStringLiteral("%1 に保存できません: %2").arg(path, file.errorString()));
        return;
    }
    lastFolder_ = QFileInfo(path).absolutePath();
}

void PatternDialog::Tell(const QString& text)
{
    QMessageBox::warning(this, windowTitle(), text);
}

ScopeCommands::ScopeCommands(ResultsGrid& grid, const ResultsTable& table, SearchController& controller)
    : QObject(&grid), grid_(grid), table_(table), controller_(controller)
{
    oneFileSystem_ = new QAction(QStringLiteral("他のファイルシステムを数えない"), this);
    excludeCaches_ = new QAction(QStringLiteral("CACHEDIR.TAG のあるフォルダーを除外"), this);
    for (QAction* choice : {oneFileSystem_, excludeCaches_})
        choice->setCheckable(true);
    connect(oneFileSystem_, &QAction::toggled, this, [this](bool on) {
        Choose([](SearchScope& scope, bool value) { scope.oneFileSystem = value; }, on);
    });
    connect(excludeCaches_, &QAction::toggled, this, [this](bool on) {
        Choose([](SearchScope& scope, bool value) { scope.excludeCaches = value; }, on);
    });
    patterns_ = new QAction(QStringLiteral("除外するパターン..."), this);
    connect(patterns_, &QAction::triggered, this, &ScopeCommands::EditPatterns);
    excludeRow_ = new QAction(QStringLiteral("このフォルダーを除外"), this);
    connect(excludeRow_, &QAction::triggered, this, &ScopeCommands::ExcludeRow);
}

void ScopeCommands::AddEntries(QMenu& menu)
{
    const SearchScope& scope = controller_.Scope();
    const QSignalBlocker oneBlocked(oneFileSystem_);
    const QSignalBlocker cachesBlocked(excludeCaches_);
    oneFileSystem_->setChecked(scope.oneFileSystem);
    excludeCaches_->setChecked(scope.excludeCaches);
    const int32_t row = table_.Row();
    excludeRow_->setEnabled(row > 0 && row < table_.Rows() && table_.Facts(row).kind == RowKind::Subdirectory &&
                            !controller_.ShownPath().empty());
    QMenu* scopeMenu = menu.addMenu(QStringLiteral("検索の範囲"));
    scopeMenu->addActions({oneFileSystem_, excludeCaches_, patterns_, excludeRow_});
}

void ScopeCommands::Choose(void (*change)(SearchScope&, bool), bool on)
{
    SearchScope scope = controller_.Scope();
    change(scope, on);
    controller_.SetScope(std::move(scope));
}

void ScopeCommands::EditPatterns()
{
    PatternDialog dialog(controller_.Scope().patterns, grid_.window());
    if (dialog.exec() != QDialog::Accepted)
        return;
    SearchScope scope = controller_.Scope();
    scope.patterns = dialog.Patterns();
    controller_.SetScope(std::move(scope));
}

void ScopeCommands::ExcludeRow()
{
    const int32_t row = table_.Row();
    if (row <= 0 || row >= table_.Rows() || table_.Facts(row).kind != RowKind::Subdirectory)
        return;
    std::string path = controller_.ShownPath();
    if (path.empty())
        return;
    if (path.back() != PathSeparator())
        path += PathSeparator();
    SearchScope scope = controller_.Scope();
    scope.patterns.push_back(PlainPattern(path + table_.Facts(row).listedName));
    controller_.SetScope(std::move(scope));
}

}  // namespace murako
