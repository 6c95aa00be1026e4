#include "Texts.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <clocale>
#include <cstring>
#include <vector>

#include "Installation.h"

static const FXchar NOT_AVAILABLE[] = "<not available>";

bool Texts::LoadData(const char* argv0) {
  Installation::UseProgramData(argv0);
  Information::ReadConfigParams();
  Information::ReadTranslations();
  setlocale(LC_CTYPE, "");  // only the character set: numbers keep their '.'
  return !Information::translations.empty();
}

Texts::Texts(Information* info) : info(info) {}

void Texts::use(Information* i) { info = i; }

bool Texts::has(const FXchar* key) { return info && info->GetString(key) != NOT_AVAILABLE; }

FXString Texts::get(const FXchar* key) {
  if (!has(key)) return key;
  return toTerminal(info->GetString(key));
}

static bool isAscii(const FXString& text) {
  for (FXint i = 0; i < text.length(); i++)
    if ((FXuchar)text[i] >= 0x80) return false;
  return true;
}

static bool localeIsUtf8OrNone() {
  const FXchar* codeset = nl_langinfo(CODESET);
  return strcmp(codeset, "UTF-8") == 0 || strcmp(codeset, "ANSI_X3.4-1968") == 0;
}

FXString Texts::toTerminal(const FXString& text) {
  if (isAscii(text) || localeIsUtf8OrNone()) return text;
  FXString target = nl_langinfo(CODESET);
  target.append("//TRANSLIT");
  return ConvertCharset(text, "UTF-8", target.text());
}

FXint Texts::displayWidth(const FXString& text) {
  // UTF-8 continuation bytes take no column; in a single-byte character set
  // every byte does.
  bool utf8 = localeIsUtf8OrNone();
  FXint width = 0;
  for (FXint i = 0; i < text.length(); i++)
    if (!utf8 || ((FXuchar)text[i] & 0xC0) != 0x80) width++;
  return width;
}

FXString ConvertCharset(const FXString& text, const FXchar* from, const FXchar* to) {
  iconv_t cd = iconv_open(to, from);
  if (cd == (iconv_t)-1) return text;
  std::vector<char> in(text.text(), text.text() + text.length());
  std::vector<char> out(text.length() * 4 + 16);
  char* inp = in.data();
  size_t inLeft = in.size();
  char* outp = out.data();
  size_t outLeft = out.size();
  while (inLeft > 0) {
    if (iconv(cd, &inp, &inLeft, &outp, &outLeft) != (size_t)-1) break;
    if (errno == E2BIG) break;  // four bytes per character always suffice
    // A byte the source set does not define: show it as '?' and go on.
    inp++;
    inLeft--;
    if (outLeft == 0) break;
    *outp++ = '?';
    outLeft--;
  }
  iconv(cd, nullptr, nullptr, &outp, &outLeft);
  iconv_close(cd);
  return FXString(out.data(), (FXint)(out.size() - outLeft));
}
