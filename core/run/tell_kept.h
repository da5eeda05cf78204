#pragma once
// A directory of the kept tree told to the rows as a walk of it would tell them.

#include "kept_tree.h"

namespace murako {

class WalkRows;

// Tells rows what a walk of dir would tell them (its listing, the unread places and what was left out below
// each subdirectory, each subdirectory's size) counting sizes by measure as a fresh search of dir would; dir's
// path ends in separator. False where a cancel cut the search of dir short: rows are told as the cancel left
// them, up to the row it cut short.
bool TellKept(const KeptDirectory& dir, SizeMeasure measure, char separator, WalkRows& rows);

}  // namespace murako
