// A small JSON writer for the machine-readable output of kelvarin-cli.
//
// Output is UTF-8.  Strings are taken as UTF-8; a byte that does not belong
// to a valid UTF-8 sequence (a device name in some other encoding) is
// written as the Latin-1 character of the same value, so the document stays
// valid whatever the input.
#ifndef KVCLI_JSON_H
#define KVCLI_JSON_H

#include <fx.h>

#include <vector>

class JsonWriter {
public:
  JsonWriter();

  JsonWriter& beginObject();
  JsonWriter& endObject();
  JsonWriter& beginArray();
  JsonWriter& endArray();
  // The name of the next member of the enclosing object.
  JsonWriter& key(const FXchar* name);

  JsonWriter& value(const FXString& text);
  JsonWriter& value(const FXchar* text);
  JsonWriter& value(FXulong number);
  JsonWriter& value(FXlong number);
  JsonWriter& value(FXint number) { return value((FXlong)number); }
  JsonWriter& value(FXuint number) { return value((FXulong)number); }
  JsonWriter& value(bool flag);
  JsonWriter& null();

  // The document so far, with a final line feed once it is complete.
  FXString text() const;

  // `text` as a JSON string literal, quotes included.
  static FXString quote(const FXString& text);

private:
  struct Level {
    bool array;
    bool empty;
  };
  FXString out;
  std::vector<Level> levels;
  bool afterKey;

  void beforeValue();
  void newline();
  JsonWriter& raw(const FXString& token);
};

#endif
