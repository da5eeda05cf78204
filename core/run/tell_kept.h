#pragma once
// A directory of the kept tree told to the rows as a walk of it would tell them.

#include "kept_tree.h"

namespace murako {

class WalkRows;

// Tells rows what a walk of dir would tell them (its listing, the unread places below each subdirectory,
// each subdirectory's size) counting sizes by measure as a fresh search of dir would; dir's path ends in
// separator.
void TellKept(const KeptDirectory& dir, SizeMeasure measure, char separator, WalkRows& rows);

}  // namespace murako
