#pragma once
// The kept tree as the window shows it: the directory shown, the measure, the order of the rows and the
// comparison, in one place that says when any of them changed, so that the table, the map and the status
// bar follow it rather than asking.

#include <functional>
#include <memory>
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

    // The directory whose rows are shown, ending in a separator; empty before any.
    const std::string& ShownPath() const { return shownPath_; }
    SizeMeasure Measure() const { return measure_; }
    SortOrder Order() const { return order_; }
    // The older search the rows are compared with; nullptr when none.
    const KeptComparison* Comparison() const { return comparison_.get(); }

    void SetShownPath(std::string path);
    void SetMeasure(SizeMeasure measure);
    void SetOrder(SortOrder order);
    // nullptr ends the comparison.
    void SetComparison(std::unique_ptr<KeptComparison> comparison);
    void SizesChanged() { Tell(NewSizes); }
    void AboutToReplace() { Tell(Replacing); }

    // Tells listener of every change from now on, until Forget with the number returned.
    int Listen(Listener listener);
    void Forget(int listener);

private:
    void Tell(unsigned changes);

    std::string shownPath_;
    SizeMeasure measure_;
    SortOrder order_;
    std::unique_ptr<KeptComparison> comparison_;
    std::vector<std::pair<int, Listener>> listeners_;
    int nextListener_ = 0;
};

}  // namespace murako
