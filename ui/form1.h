#pragma once
// The window's controls and their handlers keep the names the window was laid out with, whatever their job,
// so that a control, its handler and the logic behind it are found under one name:
//   Form1       this window; Form_Load puts the grid's header in place as it opens.
//   Command1    検索, or 取消 while a search runs; Command1_Click here starts the progress timer around
//               SearchController::Command1_Click in the core, which starts a run or cancels it.
//   Command2    終了, hidden while a search runs.   Command3  印刷, the report of the rows shown.
//   Grid1       the results table (№, ディレクトリ, サイズ): Grid1_HeaderClick orders its rows, Grid1_DblClick
//               goes down into a row's directory, Grid1_ContextMenu opens its menu (ui/table_commands.h).
//   Drive1      the volume list (the drives on Windows); Drive1_Change moves the directory list onto a volume.
//   Dir1        the directory list; its highlighted entry is what 検索 searches.
//   Frame1, Option1(0|1)  キロ単位: 1024 or 1000.   Frame2, Option2(0|1)  単位: kb or Mb.
//   StatusBar1  検索中... in its first panel, the count and then the summary in its second.
// The report's field fitting keeps the same habit in its parameters: Prm marks what the caller decides (PrmLen,
// a field's width in columns; PrmRightSpace), Tgt the text it works on (TgtStr).

#include <QFontMetrics>
#include <QTimer>
#include <QWidget>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "results_table.h"
#include "search_run.h"

class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QStatusBar;

namespace murako {

class CompareCommand;
class DirList;
class DriveList;
class MapWindow;
class ResultsGrid;
class TableCommands;

// The text as shown in room pixels: while it does not fit, its middle parts (between separators) give way, so
// that the first and the last part, and every number, are shown whole or not at all.
QString FitParts(const QString& text, const QString& separator, const QFontMetrics& metrics, int room);

// The main window: every control, the search button bound to the search run, and the exit.
class Form1 : public QWidget, private SearchPresentation, private SearchChoices, private RunHost {
public:
    static constexpr int ClientWidthTwips = 6870;
    static constexpr int ClientHeightTwips = 7680;
    static constexpr int ProgressInterval = 200;  // ms: the second panel follows the count five times a second
    static constexpr int AgeNoteInterval = 2000;  // ms: and the age of kept results, told in minutes

    explicit Form1(std::shared_ptr<FileSystem> fileSystem, SearchController::Options options = {},
                   QWidget* parent = nullptr);
    ~Form1() override;

    ResultsTable& Table() { return table_; }
    // The map window, opened the first time it is asked for; nullptr until then.
    MapWindow* Map() { return map_; }
    void ShowMap();
    const SearchController& Controller() const { return controller_; }
    CompareCommand& Comparing() { return *compare_; }

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
    void CreateOptionFrame(QGroupBox*& frame, std::array<QRadioButton*, 2>& options, const QString& name,
                           const QString& title, const std::array<QString, 2>& captions, int top, int optionWidth);
    void CreateStatusBar(const QFont& font);
    void SetTabOrder();
    void Connect();
    void ShowStartDirectory();

    void Form_Load();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Drive1_Change();
    void Grid1_HeaderClick(int col);
    void Grid1_DblClick(int32_t row);
    void Grid1_ContextMenu(QPoint at);

    // Opens a directory in the directory list and searches it, as a user would by hand.
    void SearchDirectory(const std::string& path);
    // Opens a directory in the directory list without searching it, as the table shows its kept results.
    void FollowDirectory(const std::string& path);
    // Searches the directory the table shows again, the directory list opened on it.
    void SearchShownAgain();
    // The second panel follows a search just started, and the age of kept results while they are shown.
    void FollowSearch();
    void KeepAgeNoteCurrent();

    void SetSearchCaption(const std::string& caption) override;
    void SetExitVisible(bool visible) override;
    void SetStatusText(const std::string& text) override;
    void SetBusyPointer(bool busy) override;
    void SetDivisorEnabled(bool enabled) override;
    void SetUnitEnabled(bool enabled) override;
    void SetDriveListEnabled(bool enabled) override;
    void SetDirListEnabled(bool enabled) override;
    void Refresh() override;
    void SetProgressText(const std::string& text) override;

    std::string HighlightedPath() override;
    bool DivisorIs1024() override;
    bool UnitIsKb() override;

    void PostToUi(std::function<void()> apply) override;

    int Px(int twips) const;
    void Place(QWidget* control, int left, int top, int width, int height) const;

    ResultsTable table_;
    ResultsGrid* Grid1;
    QPushButton* Command3;
    DirList* Dir1;
    QGroupBox* Frame2;
    std::array<QRadioButton*, 2> Option2;
    QGroupBox* Frame1;
    std::array<QRadioButton*, 2> Option1;
    QPushButton* Command2;
    QPushButton* Command1;
    DriveList* Drive1;
    QStatusBar* StatusBar1;
    QLabel* statusPanel_;
    QLabel* progressPanel_;
    QTimer progressTimer_;
    TableCommands* commands_;
    CompareCommand* compare_;
    MapWindow* map_ = nullptr;
    bool busyPointer_ = false;
    SearchController controller_;
};

}  // namespace murako
