// Configuration and translations: default.cfg, the language files of lang/,
// lookup of a text by its key, and the font of the current language.
#include "Information.h"

#include <FX88591Codec.h>
#include <FX885910Codec.h>
#include <FX885911Codec.h>
#include <FX885913Codec.h>
#include <FX885914Codec.h>
#include <FX885915Codec.h>
#include <FX885916Codec.h>
#include <FX88592Codec.h>
#include <FX88593Codec.h>
#include <FX88594Codec.h>
#include <FX88595Codec.h>
#include <FX88596Codec.h>
#include <FX88597Codec.h>
#include <FX88598Codec.h>
#include <FX88599Codec.h>
#include <FXCP1250Codec.h>
#include <FXCP1251Codec.h>
#include <FXCP1252Codec.h>
#include <FXCP1253Codec.h>
#include <FXCP1254Codec.h>
#include <FXCP1255Codec.h>
#include <FXCP1256Codec.h>
#include <FXCP1257Codec.h>
#include <FXCP1258Codec.h>
#include <FXCP437Codec.h>
#include <FXCP850Codec.h>
#include <FXCP852Codec.h>
#include <FXCP855Codec.h>
#include <FXCP856Codec.h>
#include <FXCP857Codec.h>
#include <FXCP860Codec.h>
#include <FXCP861Codec.h>
#include <FXCP862Codec.h>
#include <FXCP863Codec.h>
#include <FXCP864Codec.h>
#include <FXCP865Codec.h>
#include <FXCP866Codec.h>
#include <FXCP869Codec.h>
#include <FXCP874Codec.h>
#include <FXKOI8RCodec.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>

#include "TextKeys.h"
#include "compat/Assert.h"

std::map<FXString, FXString> Information::configParams;
FXString Information::translations;
std::vector<std::pair<FXString, FXint>> Information::langEncodings;
std::vector<std::pair<FXString, FXString>> Information::langFonts;
FXushort Information::currentEncoding = 0;
std::vector<FXString> Information::dataPlaces(1, ".");

namespace {

const FXchar NOT_AVAILABLE[] = "<not available>";
const FXchar LANG_DIR[] = "lang/";

// A language file is a few dozen kilobytes; anything far bigger is not one,
// and reading it would only fill the memory.
const FXlong MAX_LANGUAGE_FILE = 4 * 1024 * 1024;

// The pattern that ends a lookup, and the number of characters between it
// and the quoted text, which are skipped unseen.
const FXint SKIPPED = 6;

// Guards the process-wide tables: the search thread looks texts up too.
std::recursive_mutex tablesMutex;

// Keys whose translation has already been reported as not fitting.
std::set<std::string> reportedKeys;

// `name` in a data place; in the current directory just `name`, as it was
// always read.
FXString inPlace(const FXString& place, const FXString& name) {
  return place == "." ? name : place + PATHSEPSTRING + name;
}

bool isBlank(FXchar c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// White space off both ends.  Bytes above 127 are letters of some 8-bit
// encoding, never white space.
void trimBlanks(FXString& text) {
  FXint begin = 0, end = text.length();
  while (begin < end && isBlank(text[begin])) begin++;
  while (end > begin && isBlank(text[end - 1])) end--;
  if (begin > 0 || end < text.length()) text = text.mid(begin, end - begin);
}

bool beginsWith(const FXString& text, const FXchar* prefix) {
  return compare(text, prefix, (FXint)strlen(prefix)) == 0;
}

bool containsText(const FXString& text, const FXchar* sub) {
  return text.find(sub, (FXint)strlen(sub), 0) >= 0;
}

// The value of a "name=value" line: what follows the prefix, up to the first
// white space.
FXString valueAfter(const FXString& line, const FXchar* prefix) {
  FXint start = (FXint)strlen(prefix), end = start;
  while (end < line.length() && !isBlank(line[end])) end++;
  return line.mid(start, end - start);
}

// Splits "file.func.NNN" at its first and its last dot.
void splitKey(const FXString& key, FXString& file, FXString& func, FXString& id) {
  FXint first = key.find('.');
  FXint last = key.rfind('.');
  if (first < 0) {
    file = func = id = FXString::null;
    return;
  }
  file = key.left(first);
  id = key.mid(last + 1, key.length() - last - 1);
  func = first < last ? key.mid(first + 1, last - first - 1) : FXString::null;
}

// Reads the concatenated language files line by line.
class TranslationReader {
public:
  TranslationReader() : opened(false) {
    if (!Information::translations.empty())
      opened = stream.open(FXStreamLoad, (FXuval)Information::translations.length(),
                           (FXuchar*)Information::translations.text());
  }
  ~TranslationReader() {
    if (opened) stream.close();
  }
  // The next line that is neither empty nor a comment.
  bool next(FXString& line) {
    while (opened && stream.status() == FXStreamOK) {
      Information::ReadLine(line, stream);
      if (!line.empty() && line[0] != '#') return true;
    }
    return false;
  }

private:
  FXMemoryStream stream;
  bool opened;
};

struct LanguageHeader {
  FXString name, code, font;
  FXint encoding = 0;
};

// language='NAME'.short='CODE'.encoding='N'.font='FONT'; fields the scan does
// not reach stay empty, and a field is cut at 999 characters (the scan then
// stops there).
LanguageHeader scanHeader(const FXString& line) {
  char name[1000] = "", code[1000] = "", font[1000] = "";
  LanguageHeader header;
  sscanf(line.text(), "language='%999[^']'.short='%999[^']'.encoding='%d'.font='%999[^']", name, code,
         &header.encoding, font);
  header.name = name;
  header.code = code;
  header.font = font;
  return header;
}

// Where a text's pattern "file='F'.func='G'.id='I'.lang='L'" stands: the
// line and the offset it begins at.
struct PatternPlace {
  size_t line;
  size_t at;
};

// The language files as read in one load: their lines, and where each
// pattern stands, so a lookup need not read the lines again.  A pattern is
// filed under its beginning up to the quote that closes the language code's
// first part: a key's parts and a code hold no quote, so for every real key
// that is the whole pattern.
struct TextIndex {
  // The translations it was made from; `stale` when they have been read
  // again since.
  const FXchar* source = nullptr;
  FXint sourceLength = -1;
  bool stale = true;
  std::vector<FXString> lines;
  std::unordered_map<std::string, std::vector<PatternPlace>> places;
};

// Guarded by tablesMutex.
TextIndex textIndex;

const FXchar PATTERN_START[] = "file='";

// One past the quote that closes the first part of the language code in the
// pattern standing at `at`, or npos when what stands there is no pattern.
size_t patternKeyEnd(std::string_view text, size_t at) {
  size_t end = at + strlen(PATTERN_START);
  for (const FXchar* join : {"'.func='", "'.id='", "'.lang='"}) {
    end = text.find('\'', end);
    if (end == std::string_view::npos || text.compare(end, strlen(join), join) != 0) return std::string_view::npos;
    end += strlen(join);
  }
  end = text.find('\'', end);
  return end == std::string_view::npos ? end : end + 1;
}

std::string_view viewOf(const FXString& text) { return std::string_view(text.text(), (size_t)text.length()); }

void indexLine(TextIndex& index, size_t number) {
  std::string_view line = viewOf(index.lines[number]);
  for (size_t at = line.find(PATTERN_START); at != std::string_view::npos; at = line.find(PATTERN_START, at + 1)) {
    size_t end = patternKeyEnd(line, at);
    if (end != std::string_view::npos) index.places[std::string(line.substr(at, end - at))].push_back({number, at});
  }
}

void buildIndex(TextIndex& index) {
  index = TextIndex();
  TranslationReader reader;
  FXString line;
  while (reader.next(line)) {
    index.lines.push_back(line);
    indexLine(index, index.lines.size() - 1);
  }
  index.source = Information::translations.text();
  index.sourceLength = Information::translations.length();
  index.stale = false;
}

// The index of the translations, made anew after each load.  Caller holds
// the lock.
const TextIndex& currentIndex() {
  Information::ReadTranslations();
  if (textIndex.stale || textIndex.source != Information::translations.text() ||
      textIndex.sourceLength != Information::translations.length())
    buildIndex(textIndex);
  return textIndex;
}

bool standsAt(const FXString& line, size_t at, const FXString& pattern) {
  return viewOf(line).compare(at, (size_t)pattern.length(), viewOf(pattern)) == 0;
}

// The first line the pattern stands in, or null.  A key's places are in
// reading order, so the first that holds the whole pattern is in that line.
// The caller holds the lock while it uses the line.
const FXString* firstLineWith(const FXString& pattern) {
  const TextIndex& index = currentIndex();
  size_t keyEnd = patternKeyEnd(viewOf(pattern), 0);
  if (keyEnd == std::string_view::npos) {
    // A key with quotes in its parts: the index cannot name it, the lines can.
    for (const FXString& line : index.lines)
      if (line.find(pattern.text(), pattern.length(), 0) >= 0) return &line;
    return nullptr;
  }
  auto found = index.places.find(std::string(viewOf(pattern).substr(0, keyEnd)));
  if (found == index.places.end()) return nullptr;
  for (const PatternPlace& place : found->second)
    if (standsAt(index.lines[place.line], place.at, pattern)) return &index.lines[place.line];
  return nullptr;
}

// The text of the first line the pattern stands in: the quoted text ends
// the line, and the six characters before it are skipped.
bool textFor(const FXString& pattern, FXString& text) {
  std::lock_guard<std::recursive_mutex> lock(tablesMutex);
  const FXString* line = firstLineWith(pattern);
  if (!line) return false;
  FXint quoted = line->length() - pattern.length() - SKIPPED;
  text = quoted >= 2 ? line->mid(line->length() - quoted + 1, quoted - 2) : FXString::null;
  return true;
}

std::vector<LanguageHeader> scanHeaders() {
  std::lock_guard<std::recursive_mutex> lock(tablesMutex);
  std::vector<LanguageHeader> headers;
  for (const FXString& line : currentIndex().lines)
    if (containsText(line, "language=")) headers.push_back(scanHeader(line));
  return headers;
}

// Rebuilds the encoding and font tables from the headers.  Caller holds the lock.
void fillLanguageTables(const std::vector<LanguageHeader>& headers) {
  Information::langEncodings.clear();
  Information::langFonts.clear();
  for (const LanguageHeader& h : headers) {
    Information::langEncodings.push_back(std::make_pair(h.code, h.encoding));
    Information::langFonts.push_back(std::make_pair(h.code, h.font));
  }
}

// The toolkit's codec for a font-encoding number, or null when it has none.
const FXTextCodec* codecFor(FXint encoding) {
  static const FX88591Codec latin1;
  static const FX88592Codec iso2;
  static const FX88593Codec iso3;
  static const FX88594Codec iso4;
  static const FX88595Codec iso5;
  static const FX88596Codec iso6;
  static const FX88597Codec iso7;
  static const FX88598Codec iso8;
  static const FX88599Codec iso9;
  static const FX885910Codec iso10;
  static const FX885911Codec iso11;
  static const FX885913Codec iso13;
  static const FX885914Codec iso14;
  static const FX885915Codec iso15;
  static const FX885916Codec iso16;
  static const FXKOI8RCodec koi8r;
  static const FXCP437Codec cp437;
  static const FXCP850Codec cp850;
  static const FXCP852Codec cp852;
  static const FXCP855Codec cp855;
  static const FXCP856Codec cp856;
  static const FXCP857Codec cp857;
  static const FXCP860Codec cp860;
  static const FXCP861Codec cp861;
  static const FXCP862Codec cp862;
  static const FXCP863Codec cp863;
  static const FXCP864Codec cp864;
  static const FXCP865Codec cp865;
  static const FXCP866Codec cp866;
  static const FXCP869Codec cp869;
  static const FXCP874Codec cp874;
  static const FXCP1250Codec cp1250;
  static const FXCP1251Codec cp1251;
  static const FXCP1252Codec cp1252;
  static const FXCP1253Codec cp1253;
  static const FXCP1254Codec cp1254;
  static const FXCP1255Codec cp1255;
  static const FXCP1256Codec cp1256;
  static const FXCP1257Codec cp1257;
  static const FXCP1258Codec cp1258;
  switch (encoding) {
    case FONTENCODING_ISO_8859_1: return &latin1;
    case FONTENCODING_ISO_8859_2: return &iso2;
    case FONTENCODING_ISO_8859_3: return &iso3;
    case FONTENCODING_ISO_8859_4: return &iso4;
    case FONTENCODING_ISO_8859_5: return &iso5;
    case FONTENCODING_ISO_8859_6: return &iso6;
    case FONTENCODING_ISO_8859_7: return &iso7;
    case FONTENCODING_ISO_8859_8: return &iso8;
    case FONTENCODING_ISO_8859_9: return &iso9;
    case FONTENCODING_ISO_8859_10: return &iso10;
    case FONTENCODING_ISO_8859_11: return &iso11;
    case FONTENCODING_ISO_8859_13: return &iso13;
    case FONTENCODING_ISO_8859_14: return &iso14;
    case FONTENCODING_ISO_8859_15: return &iso15;
    case FONTENCODING_ISO_8859_16: return &iso16;
    // The toolkit has one KOI8 table; the Ukrainian and unified variants
    // differ from it in a handful of letters only.
    case FONTENCODING_KOI8:
    case FONTENCODING_KOI8_R:
    case FONTENCODING_KOI8_U:
    case FONTENCODING_KOI8_UNIFIED: return &koi8r;
    case FONTENCODING_CP437: return &cp437;
    case FONTENCODING_CP850: return &cp850;
    case FONTENCODING_CP852: return &cp852;
    case FONTENCODING_CP855: return &cp855;
    case FONTENCODING_CP856: return &cp856;
    case FONTENCODING_CP857: return &cp857;
    case FONTENCODING_CP860: return &cp860;
    case FONTENCODING_CP861: return &cp861;
    case FONTENCODING_CP862: return &cp862;
    case FONTENCODING_CP863: return &cp863;
    case FONTENCODING_CP864: return &cp864;
    case FONTENCODING_CP865: return &cp865;
    case FONTENCODING_CP866: return &cp866;
    case FONTENCODING_CP869: return &cp869;
    case FONTENCODING_CP874: return &cp874;
    case FONTENCODING_CP1250: return &cp1250;
    case FONTENCODING_CP1251: return &cp1251;
    case FONTENCODING_CP1252: return &cp1252;
    case FONTENCODING_CP1253: return &cp1253;
    case FONTENCODING_CP1254: return &cp1254;
    case FONTENCODING_CP1255: return &cp1255;
    case FONTENCODING_CP1256: return &cp1256;
    case FONTENCODING_CP1257: return &cp1257;
    case FONTENCODING_CP1258: return &cp1258;
    default: return nullptr;
  }
}

bool isValidUtf8(const FXString& text) {
  const FXuchar* p = (const FXuchar*)text.text();
  const FXuchar* end = p + text.length();
  while (p < end) {
    FXuchar c = *p++;
    int more = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
    if (more < 0 || (more == 1 && c < 0xC2) || end - p < more) return false;
    for (int i = 0; i < more; i++)
      if ((p[i] & 0xC0) != 0x80) return false;
    p += more;
  }
  return true;
}

// Built in a std::string: FXString grows by one character per append, which
// makes a long text cost the square of its length.
FXString latin1ToUtf8(const FXString& text) {
  std::string out;
  out.reserve(2 * (size_t)text.length());
  for (FXint i = 0; i < text.length(); i++) {
    FXuchar c = (FXuchar)text[i];
    if (c < 0x80) {
      out += (FXchar)c;
    } else {
      out += (FXchar)(0xC0 | (c >> 6));
      out += (FXchar)(0x80 | (c & 0x3F));
    }
  }
  return FXString(out.data(), (FXint)out.size());
}

void reportUnfitText(const FXString& key, const FXString& lang, const FXString& text) {
  std::lock_guard<std::recursive_mutex> lock(tablesMutex);
  if (!reportedKeys.insert(std::string(key.text()) + "/" + lang.text()).second) return;
  const FXchar* arguments = TextKeys::ArgumentsOf(key);
  fxwarning("Kelvarin: the %s text of %s does not take the arguments \"%s\": \"%s\"\n", lang.text(),
            key.text(), arguments ? arguments : "", text.text());
}

}  // namespace

Information::Information() : showChooser(true) { GetLanguage(language, this); }

Information::~Information() {}

// --- default.cfg ---

void Information::ReadConfigParams() {
  KV_TRACE(10, "Information::ReadConfigParams\n");
  FXFileStream stream;
  bool opened = stream.open(DataPath("default.cfg"), FXStreamLoad, 8192);
  configParams.clear();
  configParams["shortver"] = "1.0";
  configParams["longver"] = "1.0.1440";
  if (!opened) return;
  FXString line;
  while (stream.status() == FXStreamOK) {
    ReadLine(line, stream);
    if (line.empty() || line[0] == '#' || line.find('=') < 0) continue;
    FXString key = line.before('=');
    FXString value = line.after('=');  // ReadLine took the trailing white space off
    configParams[key] = value;
    KV_TRACE(11, "Information::ReadConfigParams: %s=%s\n", key.text(), value.text());
  }
  stream.close();
}

FXString Information::GetConfigParam(const FXString& key) {
  KV_TRACE(7, "Information::GetConfigParam %s\n", key.text());
  FXString& value = configParams[key];
  FXString result = value.empty() ? FXString(NOT_AVAILABLE) : value;
  KV_TRACE(7, "retval=%s\n", result.text());
  return result;
}

// --- reading ---

void Information::ReadLine(FXString& line, FXStream& stream) {
  for (;;) {
    line = FXString::null;
    if (stream.status() != FXStreamOK) return;
    std::string raw;
    bool inQuotes = false;
    FXchar c;
    for (;;) {
      stream >> c;
      if (stream.status() != FXStreamOK) break;
      if (c == '\n' && !inQuotes) break;
      if (c == '\'') inQuotes = !inQuotes;
      raw += c;
    }
    std::string text;
    text.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); i++) {
      if (raw[i] == '\\' && i + 1 < raw.size() && (raw[i + 1] == 'n' || raw[i + 1] == 't')) {
        text += raw[i + 1] == 'n' ? '\n' : '\t';
        i++;
      } else {
        text += raw[i];
      }
    }
    line.append(text.data(), (FXint)text.size());
    trimBlanks(line);
    if (!line.empty() || stream.status() != FXStreamOK) return;
  }
}

// Appends the language files of one folder to the translations.
static void readLanguageFolder(const FXString& folder) {
  // Only regular "*.lng" files: an editor's backup or a stray directory in
  // lang/ is not a language.
  FXString* names = nullptr;
  FXint count = FXDir::listFiles(names, folder, "*.lng", FXDir::NoDirs);
  KV_TRACE(11, "Information::ReadTranslations - %d translations found\n", count);
  for (FXint i = 0; i < count; i++) {
    KV_TRACE(11, "Information::ReadTranslations - file: %s\n", names[i].text());
    FXString path = folder + names[i];
    if (!FXStat::isFile(path)) continue;
    FXFile file;
    if (!file.open(path, FXIO::Reading)) continue;
    if (file.size() > MAX_LANGUAGE_FILE) {
      fxwarning("Kelvarin: %s is too large for a language file; skipped\n", path.text());
      continue;
    }
    FXchar buffer[8192];
    FXival n;
    while ((n = file.readBlock(buffer, sizeof(buffer))) > 0) Information::translations.append(buffer, (FXint)n);
  }
  delete[] names;
}

void Information::ReadTranslations() {
  std::lock_guard<std::recursive_mutex> lock(tablesMutex);
  if (!translations.empty()) return;
  KV_TRACE(10, "Information::ReadTranslations\n");
  textIndex.stale = true;
  // The texts of one place only, so they never mix versions; a lang/ folder
  // without a text in it (someone else's, in the current directory) is
  // passed over.
  for (const FXString& place : dataPlaces) {
    readLanguageFolder(inPlace(place, LANG_DIR));
    if (!translations.empty()) break;
  }
}

FXString Information::DataPath(const FXString& name) {
  for (const FXString& place : dataPlaces) {
    FXString path = inPlace(place, name);
    if (FXStat::isFile(path)) return path;
  }
  return name;
}

// --- languages ---

FXint Information::GetAvailableLang(std::vector<FXString>& codes, std::vector<FXString>& names) {
  ReadTranslations();
  KV_TRACE(10, "Information::GetAvailableLang\n");
  font = FXString::null;
  codes.clear();
  names.clear();
  std::vector<LanguageHeader> headers = scanHeaders();
  FXint result = -1;
  {
    std::lock_guard<std::recursive_mutex> lock(tablesMutex);
    fillLanguageTables(headers);
  }
  for (FXint counter = 0; counter < (FXint)headers.size(); counter++) {
    const LanguageHeader& h = headers[counter];
    if (h.code == language) result = counter;
    codes.push_back(h.code);
    names.push_back(ToDisplayText(h.name, h.encoding));
    KV_TRACE(11, "Information::GetAvailableLang found '%s', short %s, encoding %d\n", h.name.text(),
             h.code.text(), h.encoding);
  }
  return result;
}

void Information::GetLanguage(FXString& lang, Information* info) {
  KV_TRACE(10, "Information::GetLanguage\n");
  std::lock_guard<std::recursive_mutex> lock(tablesMutex);
  for (const FXString& line : currentIndex().lines) {
    if (containsText(line, "languages=")) {
      if (!beginsWith(line, "languages=")) continue;
      FXString value = valueAfter(line, "languages=");
      lang = value.length() >= 2 ? value.mid(1, value.length() - 2) : FXString::null;
    } else if (containsText(line, "showchooser=")) {
      if (beginsWith(line, "showchooser=") && valueAfter(line, "showchooser=") == "NO" && info)
        info->showChooser = false;
    }
  }
  KV_TRACE(11, "Information::GetLanguage default language %s\n", lang.text());
  KV_TRACE(11, "Information::GetLanguage show language chooser %d\n", info ? (int)info->showChooser : -1);
}

FXint Information::EncodingOf(const FXString& lang) {
  std::lock_guard<std::recursive_mutex> lock(tablesMutex);
  if (langEncodings.empty()) {
    ReadTranslations();
    fillLanguageTables(scanHeaders());
  }
  for (const auto& entry : langEncodings)
    if (entry.first == lang) return entry.second;
  return 0;
}

FXString Information::ToDisplayText(const FXString& text, FXint encoding) {
  if (const FXTextCodec* codec = codecFor(encoding)) return codec->mb2utf(text);
  return isValidUtf8(text) ? text : latin1ToUtf8(text);
}

// --- lookup ---

FXString Information::GetString(const FXString& location, const FXString& lang) {
  KV_TRACE(10, "Information::GetString( location=%s language=%s )\n", location.text(), lang.text());
  FXString result = NOT_AVAILABLE;
  FXString file, func, id;
  splitKey(location, file, func, id);
  FXString pattern;
  pattern.format("file='%s'.func='%s'.id='%s'.lang='%s'", file.text(), func.text(), id.text(), lang.text());
  KV_TRACE(11, "Information::GetString search for \"%s\"\n", pattern.text());
  FXString text;
  if (textFor(pattern, text)) {
    KV_TRACE(11, "Information::GetString found search pattern\n");
    result = ToDisplayText(text, EncodingOf(lang));
  }
  KV_TRACE(11, "Information::GetString returning data \"%s\"\n", result.text());
  return result;
}

FXString Information::GetString(const FXString& location) {
  FXString text = GetString(location, language);
  if (text == NOT_AVAILABLE) text = GetString(location, "EN");
  return text;
}

const FXchar* Information::GetStringText(const FXString& location) {
  lastString = GetString(location);
  return lastString.text();
}

FXString Information::Format(const FXchar* location, ...) {
  FXString format = GetString(location);
  const FXchar* arguments = TextKeys::ArgumentsOf(location);
  if (!arguments) {
    // A key nobody listed: without knowing its arguments, only a text that
    // takes none can be shown.
    std::vector<TextKeys::ArgumentKind> kinds;
    if (!TextKeys::ParseFormat(format, kinds) || !kinds.empty()) {
      reportUnfitText(location, language, format);
      format = location;
      format.substitute("%", "%%");
    }
  } else if (!TextKeys::FormatFits(format, arguments)) {
    reportUnfitText(location, language, format);
    format = GetString(location, "EN");
    if (!TextKeys::FormatFits(format, arguments)) {
      reportUnfitText(location, "EN", format);
      format = location;
      format.substitute("%", "%%");
      format += " ";
      format += arguments;
    }
  }
  va_list args;
  va_start(args, location);
  FXString result;
  result.vformat(format.text(), args);
  va_end(args);
  return result;
}

// --- the language ---

void Information::ChooseLanguage(const FXString& lang) {
  KV_TRACE(10, "Information::ChooseLanguage( lang = %s )\n", lang.text());
  language = lang;
  FXint encoding = 0;
  {
    std::lock_guard<std::recursive_mutex> lock(tablesMutex);
    if (langEncodings.empty()) {
      std::vector<FXString> codes, names;
      GetAvailableLang(codes, names);
    }
    for (const auto& entry : langEncodings) {
      if (entry.first == lang) {
        encoding = entry.second;
        KV_TRACE(11, "Information::SetLanguage found corresponding encoding %d\n", encoding);
        break;
      }
    }
    font = FXString::null;
    for (const auto& entry : langFonts) {
      if (entry.first == lang) {
        font = entry.second;
        KV_TRACE(11, "Information::SetLanguage found corresponding font %s\n", font.text());
        break;
      }
    }
  }
  currentEncoding = (FXushort)encoding;
}

