#include "results_table.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace murako {

void UnreadPlaces::Add(Place place)
{
    ++count;
    auto byPath = [](const Place& a, const Place& b) { return a.path < b.path; };
    const auto at = std::upper_bound(first.begin(), first.end(), place, byPath);
    if (static_cast<size_t>(at - first.begin()) >= Kept)
        return;
    first.insert(at, std::move(place));
    if (first.size() > Kept)
        first.pop_back();
}

void UnreadPlaces::Merge(const UnreadPlaces& other)
{
    const int64_t sum = count + other.count;
    for (const Place& place : other.first)
        Add(place);
    count = sum;
}

namespace {

enum RowFlag : uint8_t {
    HasBytes = 1,
    HasCount = 2,
    Interrupted = 4,
    Moved = 8,
    BaseExcluded = 16,
    ListedIsShown = 32,  // the listed name is the shown one, which the table holds already
    CountIsRare = 64,    // more names than the row's inline count holds
};

bool Empty(const UnreadPlaces& places)
{
    return places.count == 0 && places.first.empty();
}

}  // namespace

struct CompactRow::Rare {
    UnreadPlaces unread;
    UnreadPlaces notEntered;
    UnreadPlaces otherFileSystems;
    std::string listedName;
    std::optional<RowChange> change;
    int64_t excluded = 0;
    int64_t entries = 0;  // where it does not fit inline

    bool Empty() const
    {
        return murako::Empty(unread) && murako::Empty(notEntered) && murako::Empty(otherFileSystems) &&
               listedName.empty() && !change && excluded == 0 && entries == 0;
    }
};

// A million rows in 32 MB; room for one more 8-byte fact before a row takes 40.
static_assert(sizeof(CompactRow) == 40);

CompactRow::CompactRow() = default;
CompactRow::~CompactRow() = default;
CompactRow::CompactRow(CompactRow&&) noexcept = default;
CompactRow& CompactRow::operator=(CompactRow&&) noexcept = default;

CompactRow::CompactRow(const CompactRow& other)
    : bytes_(other.bytes_),
      rare_(other.rare_ ? std::make_unique<Rare>(*other.rare_) : nullptr),
      packed_(other.packed_),
      number_(other.number_),
      entries_(other.entries_),
      newest_(other.newest_)
{
}

CompactRow& CompactRow::operator=(const CompactRow& other)
{
    if (this != &other)
        *this = CompactRow(other);
    return *this;
}

CompactRow::Rare& CompactRow::MakeRare()
{
    if (!rare_)
        rare_ = std::make_unique<Rare>();
    return *rare_;
}

RowFacts CompactRow::Facts(std::string_view shownName) const
{
    const uint8_t flags = Flags();
    RowFacts facts;
    if (flags & HasBytes)
        facts.bytes = bytes_;
    facts.kind = Kind();
    facts.interrupted = flags & Interrupted;
    facts.number = number_;
    facts.moved = flags & Moved;
    facts.baseExcluded = flags & BaseExcluded;
    facts.newest = newest_;
    if (rare_) {
        facts.unread = rare_->unread;
        facts.listedName = rare_->listedName;
        facts.notEntered = rare_->notEntered;
        facts.change = rare_->change;
        facts.otherFileSystems = rare_->otherFileSystems;
    }
    if (flags & ListedIsShown)
        facts.listedName = shownName;
    if (flags & HasCount)
        facts.count = EntryCount{flags & CountIsRare ? rare_->entries : entries_, rare_ ? rare_->excluded : 0};
    return facts;
}

void CompactRow::SetFacts(RowFacts facts, std::string_view shownName)
{
    const int64_t entries = facts.count ? facts.count->entries : 0;
    const bool countIsRare = entries < 0 || entries > std::numeric_limits<int32_t>::max();
    bytes_ = facts.bytes.value_or(0);
    entries_ = countIsRare ? 0 : static_cast<int32_t>(entries);
    number_ = facts.number;
    newest_ = facts.newest;
    const bool listedIsShown = !facts.listedName.empty() && facts.listedName == shownName;
    SetMarks(facts.kind, static_cast<uint8_t>((facts.bytes ? HasBytes : 0) | (facts.count ? HasCount : 0) |
                             (facts.interrupted ? Interrupted : 0) | (facts.moved ? Moved : 0) |
                             (facts.baseExcluded ? BaseExcluded : 0) | (listedIsShown ? ListedIsShown : 0) |
                             (countIsRare ? CountIsRare : 0)));
    rare_ = std::make_unique<Rare>(Rare{std::move(facts.unread), std::move(facts.notEntered),
                                        std::move(facts.otherFileSystems),
                                        listedIsShown ? std::string() : std::move(facts.listedName),
                                        std::move(facts.change), facts.count ? facts.count->excluded : 0,
                                        countIsRare ? entries : 0});
    if (rare_->Empty())
        rare_.reset();
}

void CompactRow::SetMarks(RowKind kind, uint8_t flags)
{
    packed_ = Texts() | static_cast<uint64_t>(kind) << KindShift | static_cast<uint64_t>(flags) << FlagsShift;
}

void CompactRow::SetBytes(int64_t bytes)
{
    bytes_ = bytes;
    SetMarks(Kind(), static_cast<uint8_t>(Flags() | HasBytes));
}

void CompactRow::ShownNameChanging(std::string_view shownName)
{
    if (!(Flags() & ListedIsShown))
        return;
    SetMarks(Kind(), static_cast<uint8_t>(Flags() & ~ListedIsShown));
    MakeRare().listedName = shownName;
}

int64_t CompactRow::UnreadCount() const
{
    return rare_ ? rare_->unread.count : 0;
}

ResultsTable::ResultsTable() : rows_(DesignRows) {}

void ResultsTable::SetRows(int32_t rows)
{
    if (rows < FixedRows)
        throw TableIndexError("Rows cannot drop below the header row");
    if (rows == Rows())
        return;
    // Last first, so that the texts of rows dropped from the end are given back at once.
    for (int32_t dropped = Rows() - 1; dropped >= rows; --dropped)
        texts_.Drop(rows_[dropped].Texts());
    rows_.resize(static_cast<size_t>(rows));
    CompactTextsIfWasteful();
    const bool currentMoved = row_ >= rows;
    if (currentMoved)
        row_ = rows - 1;
    if (observer_) {
        observer_->RowsChanged(rows);
        if (currentMoved)
            observer_->CurrentCellChanged(row_, col_);
    }
}

void ResultsTable::SetRow(int32_t row)
{
    if (CheckedRow(row) == row_)
        return;
    row_ = row;
    if (observer_)
        observer_->CurrentCellChanged(row_, col_);
}

void ResultsTable::SetCol(int32_t col)
{
    CheckedCol(col);
    if (col == col_)
        return;
    col_ = col;
    if (observer_)
        observer_->CurrentCellChanged(row_, col_);
}

void ResultsTable::SetText(std::string text)
{
    CompactRow& row = rows_[row_];
    PackedTexts::Row cells = texts_.Read(row.Texts());
    if (col_ == 1 && cells[1] != text)
        row.ShownNameChanging(cells[1]);
    cells[col_] = text;
    row.SetTexts(texts_.Write(row.Texts(), cells));
    CompactTextsIfWasteful();
    if (observer_)
        observer_->CellChanged(row_, col_);
}

void ResultsTable::CompactTextsIfWasteful()
{
    constexpr size_t Slack = size_t{1} << 20;
    if (texts_.Garbage() < Slack || texts_.Garbage() < texts_.Used())
        return;
    PackedTexts compacted;
    for (CompactRow& row : rows_)
        row.SetTexts(compacted.Write(PackedTexts::Nowhere, texts_.Read(row.Texts())));
    texts_ = std::move(compacted);
}

void ResultsTable::SetColWidth(int32_t col, int32_t twips)
{
    colWidth_[CheckedCol(col)] = twips;
}

void ResultsTable::SetColAlignment(int32_t col, Alignment alignment)
{
    colAlignment_[CheckedCol(col)] = alignment;
}

void ResultsTable::SetFixedAlignment(int32_t col, Alignment alignment)
{
    fixedAlignment_[CheckedCol(col)] = alignment;
}

std::string ResultsTable::TextAt(int32_t row, int32_t col) const
{
    return std::string(texts_.Read(rows_[CheckedRow(row)].Texts())[CheckedCol(col)]);
}

RowFacts ResultsTable::Facts(int32_t row) const
{
    const CompactRow& compact = rows_[CheckedRow(row)];
    return compact.Facts(ShownName(compact));
}

void ResultsTable::SetRowBytes(int32_t row, int64_t bytes)
{
    rows_[CheckedRow(row)].SetBytes(bytes);
    if (observer_)
        observer_->RowFactsChanged(row);
}

void ResultsTable::SetFacts(int32_t row, RowFacts facts)
{
    CompactRow& compact = rows_[CheckedRow(row)];
    compact.SetFacts(std::move(facts), ShownName(compact));
    if (observer_)
        observer_->RowFactsChanged(row);
}

void ResultsTable::ReorderRows(const std::vector<int32_t>& order)
{
    if (order.size() != rows_.size() || (!order.empty() && order[0] != 0))
        throw TableIndexError("a reorder must keep every row and the header first");
    std::vector<char> placed(order.size());
    for (const int32_t from : order) {
        if (placed.at(static_cast<size_t>(CheckedRow(from))))
            throw TableIndexError("row " + std::to_string(from) + " is placed twice");
        placed[static_cast<size_t>(from)] = 1;
    }
    // Each cycle of the order moved along in place: the rows are never held twice.
    std::ranges::fill(placed, 0);
    for (size_t start = 0; start < order.size(); ++start) {
        if (placed[start])
            continue;
        CompactRow held = std::move(rows_[start]);
        size_t to = start;
        for (auto from = static_cast<size_t>(order[to]); from != start; from = static_cast<size_t>(order[to])) {
            rows_[to] = std::move(rows_[from]);
            placed[to] = 1;
            to = from;
        }
        rows_[to] = std::move(held);
        placed[to] = 1;
    }
    row_ = static_cast<int32_t>(std::ranges::find(order, row_) - order.begin());
    if (observer_)
        observer_->RowsReordered();
}

int64_t ResultsTable::UnreadCount() const
{
    int64_t count = 0;
    for (int32_t row = FixedRows; row < Rows(); ++row) {
        if (rows_[row].Kind() == RowKind::Total)
            return rows_[row].UnreadCount();
        count += rows_[row].UnreadCount();
    }
    return count;
}

ResultsTable ResultsTable::Snapshot() const
{
    ResultsTable copy(*this);
    copy.observer_ = nullptr;
    return copy;
}

int32_t ResultsTable::CheckedRow(int32_t row) const
{
    if (row < 0 || row >= Rows())
        throw TableIndexError("row " + std::to_string(row) + " is outside the table");
    return row;
}

int32_t ResultsTable::CheckedCol(int32_t col)
{
    if (col < 0 || col >= Cols)
        throw TableIndexError("column " + std::to_string(col) + " is outside the table");
    return col;
}

void InitGrid(ResultsTable& table)
{
    table.SetColWidth(0, 400);
    table.SetColWidth(1, 5000);
    table.SetColWidth(2, 900);
    table.SetFixedAlignment(0, Alignment::LeftCenter);
    table.SetColAlignment(2, Alignment::LeftCenter);
    SetCellText(table, 0, 0, "№");
    SetCellText(table, 0, 1, "ディレクトリ");
    SetCellText(table, 0, 2, "サイズ");
}

void SetCellText(ResultsTable& TgtGrid, int32_t PrmRow, int32_t PrmCol, const std::string& PrmText)
{
    TgtGrid.SetRow(PrmRow);
    TgtGrid.SetCol(PrmCol);
    TgtGrid.SetText(PrmText);
}

}  // namespace murako
