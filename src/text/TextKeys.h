// Every translation key the program shows, with the arguments it is used
// with.  A translated text is data read from a file, so before one is used as
// a printf format its conversions are checked against this table: a text that
// asks for other arguments than the code passes is never formatted.
#ifndef KV_TEXT_KEYS_H
#define KV_TEXT_KEYS_H

#include <fx.h>

#include <vector>

namespace TextKeys {

// One key and the arguments its text is formatted with, written as a format
// ("%s %.0lf": a string, then a double).  Keys shown as they are have "".
struct KeyUse {
  const FXchar* key;
  const FXchar* arguments;
};

// The whole table, in no particular order.
const std::vector<KeyUse>& All();

// The arguments of `key`, or null when the key is not in the table.
const FXchar* ArgumentsOf(const FXString& key);

// The kind of value a printf conversion reads from the argument list.
enum ArgumentKind { ARG_INT, ARG_LONG, ARG_LONGLONG, ARG_SIZE, ARG_DOUBLE, ARG_STRING, ARG_POINTER };

// Parses `format` as a printf format.  On success fills `kinds` with the
// argument kind of every conversion in order and returns true.  Returns false
// for anything that may not be handed to printf with a fixed argument list:
// "%n", "*" widths, positional arguments, wide characters, long doubles,
// widths or precisions above 999, and unknown or unfinished conversions.
bool ParseFormat(const FXString& format, std::vector<ArgumentKind>& kinds);

// True when `text` may be used as the format of `arguments` (a format from
// the table): it parses and reads the same kinds of values in the same order.
bool FormatFits(const FXString& text, const FXString& arguments);

}  // namespace TextKeys

#endif
