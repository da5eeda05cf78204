// The test programs walk with the settings the programs make at start-up.
#include "walker.h"

namespace {
const murako::WalkProcessSettings walkSettings;
}  // namespace
