#pragma once

#include <cstdint>

#include "kept_tree.h"

class QWidget;

namespace murako {

class ResultsTable;

// The print button: shows the printer dialog over parent and prints the rows the table held at the press as
// the dated, titled, ruled report, saying below it how many directories under them could not be read and
// beside the title when sizes are counted on disk. A cancel or any failure shows "印刷を取り消しました" instead.
void PrintResultsTable(QWidget* parent, ResultsTable& table, SizeMeasure measure = SizeMeasure::Length);

}  // namespace murako
