#pragma once

#include "walker.h"

namespace murako {

// The calling thread's time on a processor so far, and its time waiting for one where the system counts it
// (0 elsewhere): the walk tells blocking from computing by them. One file per platform.
WalkPace::Spent ThreadTimes();

}  // namespace murako
