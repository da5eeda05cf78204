// The test programs walk with the settings the programs make at start-up.
#include "walk_pace.h"

namespace {
const murako::WalkProcessSettings walkSettings;
}  // namespace
