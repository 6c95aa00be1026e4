// Every text kelvarin-cli shows comes from the language files, looked up by
// its key like the wizard's texts.  The lookup hands out UTF-8 whatever the
// encoding of the file; a terminal whose locale names another character set
// gets the texts converted on their way out.
#ifndef KVCLI_TEXTS_H
#define KVCLI_TEXTS_H

#include <fx.h>

#include "Information.h"

class Texts {
public:
  // Reads default.cfg and the language files from the places the wizard
  // reads them from (Installation::DataPlaces).  Returns false when no
  // language file was found.
  static bool LoadData(const char* argv0);

  // `info` supplies the current language (the analyser, once it exists).
  explicit Texts(Information* info);
  void use(Information* info);

  // The text of `key` for the terminal; the key itself when no language
  // file has it.
  FXString get(const FXchar* key);

  // The text of `key` used as a printf format with the given arguments.
  template <typename... Args>
  FXString format(const FXchar* key, Args... args) {
    if (!has(key)) return key;
    return toTerminal(info->Format(key, args...));
  }

  // UTF-8 text converted for the terminal.  Without a locale (the C
  // locale of a bare rescue shell) it stays UTF-8, which the Linux console
  // and today's terminals show.
  static FXString toTerminal(const FXString& text);

  // Number of characters the terminal shows for `text`.
  static FXint displayWidth(const FXString& text);

private:
  Information* info;
  bool has(const FXchar* key);
};

// Converts between character sets; text that cannot be converted is
// returned as it is.  Characters missing from `to` become look-alikes or '?'.
FXString ConvertCharset(const FXString& text, const FXchar* from, const FXchar* to);

#endif
