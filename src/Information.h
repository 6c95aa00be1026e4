// Configuration and translations: default.cfg, the language files of lang/,
// lookup of every user-visible text by its key (file.func.NNN) with an
// English fall-back, and the font and encoding of the current language.
#ifndef KV_INFORMATION_H
#define KV_INFORMATION_H

#include <fx.h>

#include <map>
#include <utility>
#include <vector>

#include "Records.h"

class Information {
public:
  // Process-wide tables, read once and kept until exit.
  static std::map<FXString, FXString> configParams;
  static FXString translations;
  static std::vector<std::pair<FXString, FXint>> langEncodings;
  static std::vector<std::pair<FXString, FXString>> langFonts;
  static FXushort currentEncoding;

  FXString language;
  FXString font;
  FXString lastString;
  bool showChooser;

  Information();
  virtual ~Information();

  static void ReadConfigParams();
  static FXString GetConfigParam(const FXString& key);
  static void ReadTranslations();
  FXint GetAvailableLang(std::vector<FXString>& codes, std::vector<FXString>& names);
  void GetLanguage(FXString& language, Information* info);
  FXString GetString(const FXString& location, const FXString& lang);
  FXString GetString(const FXString& location);
  const FXchar* GetStringText(const FXString& location);
  static void ReadLine(FXString& line, FXStream& stream);

  // A translated text used as a printf format, filled with the given
  // arguments.  The translation is data: when its conversions do not match
  // what the key is used with, the English text (or the key) is used.
  FXString Format(const FXString& location, ...);

  // Fonts and encodings.  `app` may be null or have no display: then only
  // the language changes.
  void SetLanguage(FXApp* app, const FXString& lang);
  static void SetFontEncoding(FXApp* app, Information* info, FXint encoding);
  FXFont* GetFontEncoded(const FXString& font, FXApp* app);

  static FXulong CalcPartChksum(const std::vector<Partition>& partitions);
};

#endif
