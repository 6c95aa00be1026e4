// The dialog that asks for the language when the program starts.
#ifndef KV_LANGUAGECHOOSER_H
#define KV_LANGUAGECHOOSER_H

#include <fx.h>

class Information;

// The chooser is due unless a language was given with -lang or a language
// file hides it ("showchooser=NO").
bool LanguageChooserDue(bool langGiven, const Information& target);

// Shows the chooser when it is due.  The list holds the languages of
// `listing`'s GetAvailableLang, the current one selected (or the one chosen
// last time); OK applies the chosen language to `target` (SetLanguage) and
// keeps it in the user's FOX registry, Cancel keeps the current one.  Once
// the user ticked "do not ask again", the remembered language is applied
// without asking.  Returns true when a language was applied.  Its texts are
// fixed, but for the tick, which is shown in every language: no language has
// been chosen yet.
bool ChooseLanguageAtStart(FXApp* app, Information& listing, Information& target, bool langGiven);

#endif
