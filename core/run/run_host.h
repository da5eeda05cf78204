#pragma once

#include <functional>

namespace murako {

// The program around a run.
class RunHost {
public:
    virtual ~RunHost() = default;
    // Runs apply on the UI thread later; may be called from any thread.
    virtual void PostToUi(std::function<void()> apply) = 0;
    // Called by the walk after every entry and every subdirectory, then the run's busy flag is tested; only
    // where Yields says so, as the program's own hosts run the window on a thread of its own. Neither the
    // window nor murako-bench does anything here; it stays as the one point where a host meets the walk
    // between two entries, which the tests' scripted host uses to cancel, or change the tree, at an exact one.
    virtual void DoEvents() {}
    virtual bool Yields() const { return false; }
    // A host that plays every part on one thread, as a test's fake does, has each run walk on the thread
    // that presses 検索, to its end, rather than on a thread of its own.
    virtual bool WalksOnCallingThread() const { return false; }
};

}  // namespace murako
