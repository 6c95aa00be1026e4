// FOX 1.7 passes its own texts, such as the buttons of a message box, through
// the application's translator when it makes them; FOX 1.6 does not.  These
// do it afterwards.
#ifndef KV_COMPAT_TRANSLATE_H
#define KV_COMPAT_TRANSLATE_H

#include <fx.h>

namespace kv {

// `text` through the application's translator, or as it is when none is set.
FXString tr(FXApp* app, const FXchar* text);

// Gives the buttons of a message box just constructed their translated texts.
void translateButtons(FXMessageBox* box);

}  // namespace kv

#endif
