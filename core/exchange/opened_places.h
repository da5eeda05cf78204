#pragma once
// What results read from a file may act on: places of this computer within the file's top directory, never
// one its names leave or a link leads to, as a file from elsewhere is data, not a path to follow.

#include <string>

#include "kept_tree.h"
#include "reason_texts.h"

namespace murako {

// Why the places of tree, read from a file, are no places of this computer: its top directory is relative
// (it would name a place in any working directory) or of the other platform's form; no failure when they may be.
Failure TopActsHere(const KeptTree& tree);

// Whether a directory of tree, read from a file, holds two entries of one name.
bool HoldsEntriesNamedAlike(const KeptTree& tree);

// Why the directory at path (names parted by separator, or on Windows either separator) may not be acted on:
// path, taken apart name by name, must lie within tree's top directory, name one entry of each directory it
// passes, and lead from the top down, each directory opened by handle from the one above without following a
// link, to a directory that exists now; no failure when it may.
Failure OpenedPlaceActsHere(const KeptTree& tree, const std::string& path, char separator);

}  // namespace murako
