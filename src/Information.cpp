// Configuration and translations.
#include "Information.h"

#include <cstdarg>

#include "compat/Assert.h"

std::map<FXString, FXString> Information::configParams;
FXString Information::translations;
std::vector<std::pair<FXString, FXint>> Information::langEncodings;
std::vector<std::pair<FXString, FXString>> Information::langFonts;
FXushort Information::currentEncoding = 0;

Information::Information() : showChooser(true) { language = "EN"; }

Information::~Information() {}

void Information::ReadConfigParams() {}

FXString Information::GetConfigParam(const FXString& key) {
  FXString& value = configParams[key];
  return value.empty() ? FXString("<not available>") : value;
}

void Information::ReadTranslations() {}

FXint Information::GetAvailableLang(std::vector<FXString>& codes, std::vector<FXString>& names) {
  codes.clear();
  names.clear();
  return -1;
}

void Information::GetLanguage(FXString&, Information*) {}

FXString Information::GetString(const FXString& location, const FXString&) { return location; }

FXString Information::GetString(const FXString& location) { return GetString(location, language); }

const FXchar* Information::GetStringText(const FXString& location) {
  lastString = GetString(location);
  return lastString.text();
}

void Information::ReadLine(FXString& line, FXStream&) { line = FXString::null; }

FXString Information::Format(const FXString& location, ...) {
  FXString text = GetString(location);
  va_list args;
  va_start(args, location);
  FXString result;
  result.vformat(text.text(), args);
  va_end(args);
  return result;
}

void Information::SetLanguage(FXApp*, const FXString& lang) { language = lang; }

void Information::SetFontEncoding(FXApp*, Information*, FXint encoding) {
  currentEncoding = (FXushort)encoding;
}

FXFont* Information::GetFontEncoded(const FXString&, FXApp*) { return nullptr; }

