#pragma once

class QWidget;

namespace murako {

class ResultsTable;

// The print button: shows the printer dialog over parent and prints the rows the table held at the press as
// the dated, titled, ruled report. A cancel or any failure shows "印刷を取り消しました" instead.
void PrintResultsTable(QWidget* parent, ResultsTable& table);

}  // namespace murako
