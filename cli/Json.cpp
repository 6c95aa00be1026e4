#include "Json.h"

#include "compat/Assert.h"

JsonWriter::JsonWriter() : afterKey(false) {}

void JsonWriter::newline() {
  out.append('\n');
  out.append(' ', (FXint)levels.size() * 2);
}

// Places the separator and indentation that the next value needs.
void JsonWriter::beforeValue() {
  if (afterKey) {
    afterKey = false;
    return;
  }
  if (levels.empty()) return;
  FXASSERT(levels.back().array);  // an object member needs key() first
  if (!levels.back().empty) out.append(',');
  levels.back().empty = false;
  newline();
}

JsonWriter& JsonWriter::raw(const FXString& token) {
  beforeValue();
  out.append(token);
  return *this;
}

JsonWriter& JsonWriter::beginObject() {
  beforeValue();
  out.append('{');
  levels.push_back(Level{false, true});
  return *this;
}

JsonWriter& JsonWriter::beginArray() {
  beforeValue();
  out.append('[');
  levels.push_back(Level{true, true});
  return *this;
}

JsonWriter& JsonWriter::endObject() {
  FXASSERT(!levels.empty() && !levels.back().array);
  bool empty = levels.back().empty;
  levels.pop_back();
  if (!empty) newline();
  out.append('}');
  return *this;
}

JsonWriter& JsonWriter::endArray() {
  FXASSERT(!levels.empty() && levels.back().array);
  bool empty = levels.back().empty;
  levels.pop_back();
  if (!empty) newline();
  out.append(']');
  return *this;
}

JsonWriter& JsonWriter::key(const FXchar* name) {
  FXASSERT(!levels.empty() && !levels.back().array && !afterKey);
  if (!levels.back().empty) out.append(',');
  levels.back().empty = false;
  newline();
  out.append(quote(name));
  out.append(": ");
  afterKey = true;
  return *this;
}

JsonWriter& JsonWriter::value(const FXString& text) { return raw(quote(text)); }

JsonWriter& JsonWriter::value(const FXchar* text) { return raw(quote(FXString(text))); }

JsonWriter& JsonWriter::value(FXulong number) {
  FXString t;
  t.format("%llu", (unsigned long long)number);
  return raw(t);
}

JsonWriter& JsonWriter::value(FXlong number) {
  FXString t;
  t.format("%lld", (long long)number);
  return raw(t);
}

JsonWriter& JsonWriter::value(bool flag) { return raw(flag ? "true" : "false"); }

JsonWriter& JsonWriter::null() { return raw("null"); }

FXString JsonWriter::text() const {
  FXString t = out;
  if (levels.empty() && !t.empty()) t.append('\n');
  return t;
}

// Length of the valid UTF-8 sequence at s[i], or 0 when there is none.
static FXint utf8Sequence(const FXuchar* s, FXint i, FXint n) {
  FXuchar c = s[i];
  FXint len;
  FXuint min;
  if (c < 0x80) return 1;
  if ((c & 0xE0) == 0xC0) {
    len = 2;
    min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    len = 3;
    min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    len = 4;
    min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > n) return 0;
  FXuint code = c & (0x7F >> len);
  for (FXint k = 1; k < len; k++) {
    if ((s[i + k] & 0xC0) != 0x80) return 0;
    code = (code << 6) | (s[i + k] & 0x3F);
  }
  // Overlong forms, surrogates and values beyond Unicode are not text.
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return len;
}

FXString JsonWriter::quote(const FXString& text) {
  const FXuchar* s = (const FXuchar*)text.text();
  FXint n = text.length();
  FXString q("\"");
  for (FXint i = 0; i < n;) {
    FXuchar c = s[i];
    FXint len = utf8Sequence(s, i, n);
    if (len > 1) {
      q.append((const FXchar*)s + i, len);
      i += len;
      continue;
    }
    i++;
    FXString esc;
    if (len == 0) {
      esc.format("\\u%04x", c);  // the Latin-1 character of this byte
    } else if (c == '"') {
      esc = "\\\"";
    } else if (c == '\\') {
      esc = "\\\\";
    } else if (c == '\n') {
      esc = "\\n";
    } else if (c == '\t') {
      esc = "\\t";
    } else if (c == '\r') {
      esc = "\\r";
    } else if (c < 0x20 || c == 0x7F) {
      esc.format("\\u%04x", c);
    } else {
      q.append((FXchar)c);
      continue;
    }
    q.append(esc);
  }
  q.append('"');
  return q;
}
