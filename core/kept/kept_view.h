#pragma once
// The kept tree as the window shows it: the tree itself, the directory shown, the measure, the order of the rows,
// the comparison and how old the rows are, in one place that says when any of them changed, so that the table,
// the map and the status bar follow it rather than asking.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "kept_compare.h"
#include "kept_tree.h"
#include "row_order.h"

namespace murako {

class KeptView {
public:
    // What changed, as bits of the number told.
    enum Change : unsigned {
        NewDirectory = 1,   // another directory shown, or the rows of the same one shown again
        NewMeasure = 2,
        NewOrder = 4,
        NewComparison = 8,
        NewSizes = 16,      // what the tree holds changed: a move, a search again, another tree
        Replacing = 32,  // a subtree is about to be replaced: let go of every directory below the shown base
    };
    using Listener = std::function<void(unsigned changes)>;

    explicit KeptView(SizeMeasure measure) : measure_(measure) {}

    // The tree the rows come from; nullptr before any search kept one.
    const KeptTree* Tree() const { return tree_.get(); }
    // Whether the tree was read from a file: its places are not this computer's to act on.
    bool Imported() const { return fileNote_.has_value(); }
    // The directory whose rows are shown, ending in a separator; empty before any.
    const std::string& ShownPath() const { return shownPath_; }
    SizeMeasure Measure() const { return measure_; }
    SortOrder Order() const { return order_; }
    // The older search the rows are compared with; nullptr when none.
    const KeptComparison* Comparison() const { return comparison_.get(); }
    // How old the rows shown are, as the status bar says it: since the search of the tree or, below a directory
    // searched again, since that; for a tree read from a file, fileNote (the file and its date).
    std::string AgeNote() const;

    // tree, searched now or read from a file (fileNote), is kept from now on in place of the last, shownPath shown.
    void Keep(std::unique_ptr<KeptTree> tree, std::string shownPath, std::optional<std::string> fileNote);
    // fresh, a search again of the directory at path, takes replaced's place in the tree.
    void Replace(const KeptDirectory& replaced, std::unique_ptr<KeptTree> fresh, std::string path);
    // dir, or its file at that place in its listing, was moved away: it counts nothing from now on.
    void MoveAway(const KeptDirectory& dir, std::optional<uint32_t> file);

    void SetShownPath(std::string path);
    void SetMeasure(SizeMeasure measure);
    void SetOrder(SortOrder order);
    // nullptr ends the comparison.
    void SetComparison(std::unique_ptr<KeptComparison> comparison);

    // Tells listener of every change from now on, until Forget with the number returned.
    int Listen(Listener listener);
    void Forget(int listener);

private:
    void Tell(unsigned changes);

    std::unique_ptr<KeptTree> tree_;
    std::chrono::steady_clock::time_point keptAt_;
    // Directories searched again since, with when: their subtrees are younger than the tree.
    std::vector<std::pair<std::string, std::chrono::steady_clock::time_point>> searchedAgain_;
    std::optional<std::string> fileNote_;  // where a tree read from a file came from
    std::string shownPath_;
    SizeMeasure measure_;
    SortOrder order_;
    std::unique_ptr<KeptComparison> comparison_;
    std::vector<std::pair<int, Listener>> listeners_;
    int nextListener_ = 0;
};

}  // namespace murako
