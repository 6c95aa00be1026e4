// Checks that every text on a window fits the widget that shows it, measured
// with the widget's own font (FXFont::getTextWidth), the way a user would
// find it cut: labels, buttons, check and radio buttons, group box titles,
// list headers and their columns, drop-down boxes.  Wrapping labels are
// measured as they wrap.
#ifndef KV_TEST_TEXTFIT_H
#define KV_TEST_TEXTFIT_H

#include <fx.h>

#include <string>
#include <vector>

namespace kvtest {

// The widest line of `text` in `font`.
FXint widestLine(FXFont* font, const FXString& text);

// One description per text that does not fit ("FXLabel 'Gefundene Partitio':
// needs 212, has 180"), for every shown widget under `root`.  Widgets inside
// a scrolled area count as fitting when they fit their own box.
std::vector<std::string> textsThatDoNotFit(FXWindow* root);

// The WCAG contrast ratio of two colours (1 to 21).
double contrastRatio(FXColor a, FXColor b);

}  // namespace kvtest

#endif
