#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "file_system.h"
#include "packed_texts.h"
#include "search_scope.h"

namespace murako {

// Alignment scale of the results table: 0 left-top ... 8 right-bottom, 9 general.
enum class Alignment : int {
    LeftTop = 0,
    LeftCenter = 1,
    LeftBottom = 2,
    CenterTop = 3,
    CenterCenter = 4,
    CenterBottom = 5,
    RightTop = 6,
    RightCenter = 7,
    RightBottom = 8,
    General = 9,
};

// Raised for a row or column outside the table; the table is left unchanged.
class TableIndexError : public std::out_of_range {
public:
    using std::out_of_range::out_of_range;
};

// The places under one result row that could not be read: how many, and the first few in path order.
struct UnreadPlaces {
    static constexpr size_t Kept = 5;
    struct Place {
        std::string path;  // display text
        ReadFailure failure;
        bool operator==(const Place&) const = default;
    };

    int64_t count = 0;
    std::vector<Place> first;

    void Add(Place place);
    void Merge(const UnreadPlaces& other);
};

// Gone: a subdirectory an older search of the directory held and this one does not, shown only while the rows
// are compared with it.
enum class RowKind : uint8_t { NotWritten, RootFiles, Subdirectory, Total, Gone };

// How a row compares with an older search of the same directory.
enum class ChangeMark : uint8_t { Compared, New, Gone };
struct RowChange {
    int64_t before = 0;  // the size then, counted as now; 0 for a row that was not there
    int64_t delta = 0;   // now less then
    ChangeMark mark = ChangeMark::Compared;
    std::string text;  // as the change column shows it
};

// What a result row stands for beyond its texts: the exact byte count behind its size, what could not be read
// under it (the total row: everything), and whether a cancel cut its walk short, so that its 0 counts nothing.
struct RowFacts {
    std::optional<int64_t> bytes{};
    RowKind kind = RowKind::NotWritten;
    UnreadPlaces unread{};
    bool interrupted = false;
    int32_t number = 0;        // the № the row was written with, which tells its place in the listing
    std::string listedName{};  // a subdirectory's name in the file system's bytes; the shown one may differ
    UnreadPlaces notEntered{};  // pseudo file systems under the row, never entered, so counted 0
    bool moved = false;         // its directory was moved away since the search: it counts 0
    std::optional<RowChange> change{};  // only while the rows are compared with an older search
    std::optional<EntryCount> count{};  // the names it holds, where the search told them
    UnreadPlaces otherFileSystems{};     // in a search that stays on one file system, never entered
    bool baseExcluded = false;           // the total of a search whose patterns exclude the directory searched
    ModifiedTime newest = kTimeUnknown;  // the newest change in the row: of "[Root Files]", the files alone
};

// A row's facts as the table keeps them: what nearly every row has inline, what few rows have (places unread or
// not entered, a listed name unlike the shown one, a change, names excluded) behind one pointer, null for most.
class CompactRow {
public:
    CompactRow();
    ~CompactRow();
    CompactRow(const CompactRow& other);
    CompactRow& operator=(const CompactRow& other);
    CompactRow(CompactRow&&) noexcept;
    CompactRow& operator=(CompactRow&&) noexcept;

    RowFacts Facts(std::string_view shownName) const;
    void SetFacts(RowFacts facts, std::string_view shownName);
    void SetBytes(int64_t bytes);
    // The shown name is about to change: a listed name that was the same keeps its own copy.
    void ShownNameChanging(std::string_view shownName);
    RowKind Kind() const { return static_cast<RowKind>(packed_ >> KindShift & 0xff); }
    int32_t Number() const { return number_; }
    int64_t UnreadCount() const;

    PackedTexts::Place Texts() const { return packed_ & PackedTexts::Nowhere; }
    void SetTexts(PackedTexts::Place place) { packed_ = (packed_ & ~PackedTexts::Nowhere) | place; }

private:
    struct Rare;
    Rare& MakeRare();
    uint8_t Flags() const { return static_cast<uint8_t>(packed_ >> FlagsShift); }
    void SetMarks(RowKind kind, uint8_t flags);

    static constexpr int KindShift = PackedTexts::PlaceBits;
    static constexpr int FlagsShift = KindShift + 8;

    int64_t bytes_ = 0;
    std::unique_ptr<Rare> rare_;
    // The texts' place, the kind and the flags in one word, so that a row takes 40 bytes.
    uint64_t packed_ = PackedTexts::Nowhere | static_cast<uint64_t>(RowKind::NotWritten) << KindShift;
    int32_t number_ = 0;
    int32_t entries_ = 0;  // a count past what this holds goes with the rare facts
    ModifiedTime newest_ = kTimeUnknown;  // inline, as every row has one and the rows are sorted by it
};

// Told of every change so that a view can follow the model without polling.
class TableObserver {
public:
    virtual ~TableObserver() = default;
    virtual void RowsChanged(int32_t rows) = 0;
    virtual void CellChanged(int32_t row, int32_t col) = 0;
    virtual void CurrentCellChanged(int32_t row, int32_t col) = 0;
    virtual void RowFactsChanged(int32_t) {}
    virtual void RowsReordered() {}
};

// The results table, the program's one store of results: text cells under one fixed header row and one fixed
// column, written and read only through the current cell, and each row's facts beside its texts.
class ResultsTable {
public:
    static constexpr int32_t Cols = 3;
    static constexpr int32_t FixedRows = 1;
    static constexpr int32_t FixedCols = 1;
    static constexpr int32_t DesignRows = 2;
    static constexpr int32_t DefaultColWidth = 960;

    ResultsTable();

    int32_t Rows() const { return static_cast<int32_t>(rows_.size()); }
    void SetRows(int32_t rows);

    int32_t Row() const { return row_; }
    void SetRow(int32_t row);
    int32_t Col() const { return col_; }
    void SetCol(int32_t col);

    std::string Text() const { return TextAt(row_, col_); }
    void SetText(std::string text);

    int32_t ColWidth(int32_t col) const { return colWidth_.at(CheckedCol(col)); }
    void SetColWidth(int32_t col, int32_t twips);
    Alignment ColAlignment(int32_t col) const { return colAlignment_.at(CheckedCol(col)); }
    void SetColAlignment(int32_t col, Alignment alignment);
    Alignment FixedAlignment(int32_t col) const { return fixedAlignment_.at(CheckedCol(col)); }
    void SetFixedAlignment(int32_t col, Alignment alignment);

    // For a view that draws cells: reads without moving the current cell.
    std::string TextAt(int32_t row, int32_t col) const;

    // A row's facts; a row not written since it was added has none.
    RowFacts Facts(int32_t row) const;
    // What loops over every row ask, without putting the whole facts together.
    RowKind Kind(int32_t row) const { return rows_[CheckedRow(row)].Kind(); }
    int32_t Number(int32_t row) const { return rows_[CheckedRow(row)].Number(); }
    void SetRowBytes(int32_t row, int64_t bytes);
    void SetFacts(int32_t row, RowFacts facts);
    // How many places under the rows could not be read, each counted once: a total row's count is that of
    // every row above it, and without one the rows' counts are summed.
    int64_t UnreadCount() const;

    // Puts the row that stood at order[i] at row i, texts and facts together; the header row stays first and
    // the current cell stays on the row it was on. Throws TableIndexError, with nothing moved, unless order is a
    // permutation of the rows that keeps row 0 first.
    void ReorderRows(const std::vector<int32_t>& order);

    void SetObserver(TableObserver* observer) { observer_ = observer; }

    // A copy of the cells and the current cell that no view watches: the table as it stands now.
    ResultsTable Snapshot() const;

private:
    int32_t CheckedRow(int32_t row) const;
    static int32_t CheckedCol(int32_t col);

    std::string_view ShownName(const CompactRow& row) const { return texts_.Read(row.Texts())[1]; }
    void CompactTextsIfWasteful();

    // A deque, so that a growing table never holds its rows twice while it moves them.
    std::deque<CompactRow> rows_;
    PackedTexts texts_;
    int32_t row_ = FixedRows;
    int32_t col_ = FixedCols;
    std::array<int32_t, Cols> colWidth_{DefaultColWidth, DefaultColWidth, DefaultColWidth};
    std::array<Alignment, Cols> colAlignment_{Alignment::General, Alignment::General, Alignment::General};
    std::array<Alignment, Cols> fixedAlignment_{Alignment::General, Alignment::General, Alignment::General};
    TableObserver* observer_ = nullptr;
};

// Gives the table its column widths, alignments and header row.
void InitGrid(ResultsTable& table);

// Makes (PrmRow, PrmCol) the current cell and writes PrmText into it.
void SetCellText(ResultsTable& TgtGrid, int32_t PrmRow, int32_t PrmCol, const std::string& PrmText);

}  // namespace murako
