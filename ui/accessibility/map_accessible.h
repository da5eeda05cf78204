#pragma once

#include <cstdint>

namespace murako {

class MapView;

// The map as assistive technology sees it: a list named "マップ", described by the directory shown, its size and
// its largest parts, whose items are the children the arrow keys move through, largest first, each read as
// its tooltip reads: path, size and share.
void InstallMapAccessibility(MapView* view);

// Tells a reader that the keys moved to item, as a list tells of its current item.
void AnnounceMapItem(MapView& view, int32_t item);

}  // namespace murako
