// Configuration and translations: default.cfg, the language files of lang/,
// lookup of every user-visible text by its key (file.func.NNN) with an
// English fall-back, and the font and encoding of the current language.
#ifndef KV_INFORMATION_H
#define KV_INFORMATION_H

#include <fx.h>

#include <map>
#include <utility>
#include <vector>

class Partition;

class Information {
public:
  // Process-wide tables, read once and kept until exit.
  static std::map<FXString, FXString> configParams;
  // The bytes of the language files, one after the other.  Lookups go
  // through an index made from them once per load; set this to
  // FXString::null to have the files read (and the index made) again.
  static FXString translations;
  static std::vector<std::pair<FXString, FXint>> langEncodings;
  static std::vector<std::pair<FXString, FXString>> langFonts;
  static FXushort currentEncoding;
  // Where default.cfg, lang/ and res/ are looked for, first place first.
  // Only the current directory, unless a program adds the places it is
  // installed in (Installation::UseProgramData).
  static std::vector<FXString> dataPlaces;

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
  // GetString(location), kept in this object until its next call.
  const FXchar* GetStringText(const FXString& location);
  static void ReadLine(FXString& line, FXStream& stream);
  // `name` ("default.cfg", "res/backimage.png") in the first data place that
  // has it; `name` itself, in the current directory, when none has.
  static FXString DataPath(const FXString& name);

  // A translated text used as a printf format, filled with the given
  // arguments.  The translation is data: when its conversions do not match
  // what the key is used with (TextKeys), the English text is used, and when
  // that does not fit either, the key followed by the expected conversions.
  // The arguments must be those the key's entry in TextKeys names.  Never use
  // a text from GetString as a format yourself: it is not checked there.
  FXString Format(const FXchar* location, ...);

  // The language of the texts from now on, with the encoding and font its
  // header names; no display is needed.
  void ChooseLanguage(const FXString& lang);

  // Fonts and encodings (the widgets' part).  `app` may be null or have no
  // display: then only the language changes.
  void SetLanguage(FXApp* app, const FXString& lang);
  static void SetFontEncoding(FXApp* app, Information* info, FXint encoding);
  FXFont* GetFontEncoded(const FXString& font, FXApp* app);

  // Text for display.  Language files hold 8-bit text in the encoding their
  // header names; FOX draws UTF-8.  GetString(location, lang) converts the
  // text it finds from the encoding of `lang` (so an English fall-back is
  // converted as English), and GetAvailableLang converts the language names
  // in the same way: every text this class hands out is UTF-8.  Encoding 0
  // (and any number without a codec) keeps valid UTF-8 and reads anything
  // else as Latin-1.
  static FXString ToDisplayText(const FXString& text, FXint encoding);
  // The encoding number of a language code from its header, 0 when unknown.
  static FXint EncodingOf(const FXString& lang);

  // Each language change makes a new normal font, which the application does
  // not own.  Call once at the end, after every window is gone and before the
  // application is deleted: puts the application's first normal font back
  // and deletes the ones made here.
  static void ReleaseFonts(FXApp* app);

  static FXulong CalcPartChksum(const std::vector<Partition>& partitions);
};

#endif
