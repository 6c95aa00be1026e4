// The small pictures of the choosers, drawn in code so they stay sharp at
// their exact pixel sizes: the disk symbol, the legend squares, the ticked
// and empty boxes of the list of found partitions, and the check-mark badge
// of a selected found partition.
#ifndef KV_CHOOSERICONS_H
#define KV_CHOOSERICONS_H

#include <fx.h>

#include <vector>

namespace ChooserIcons {

const FXint DISK_WIDTH = 30, DISK_HEIGHT = 14;
const FXint LEGEND_SIZE = 16;
const FXint BOX_SIZE = 13;
const FXint BADGE_SIZE = 17;

// Pixels, row by row.  The disk symbol is blended onto `background`; the
// legend square and the boxes are opaque; the badge carries an alpha channel.
std::vector<FXColor> diskPixels(FXColor background);
std::vector<FXColor> legendPixels(FXColor colour);
std::vector<FXColor> boxPixels(bool ticked);
std::vector<FXColor> badgePixels();

// Lays `src` (with alpha) over the opaque `dst` at (x, y); parts outside
// `dst` are cut off.
void blendOver(FXColor* dst, FXint dstWidth, FXint dstHeight, const std::vector<FXColor>& src,
               FXint srcWidth, FXint srcHeight, FXint x, FXint y);

// A new opaque icon holding a copy of `pixels`; not yet created on the display.
FXIcon* makeIcon(FXApp* app, const std::vector<FXColor>& pixels, FXint w, FXint h);

}  // namespace ChooserIcons

#endif
