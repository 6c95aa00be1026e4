#include "CommandLine.h"

#include <climits>

bool ParseUnsigned(const FXString& text, FXulong& value) {
  if (text.empty() || text.length() > 20) return false;
  FXulong v = 0;
  for (FXint i = 0; i < text.length(); i++) {
    FXchar c = text[i];
    if (c < '0' || c > '9') return false;
    FXulong digit = (FXulong)(c - '0');
    if (v > (~(FXulong)0 - digit) / 10) return false;
    v = v * 10 + digit;
  }
  value = v;
  return true;
}

bool ParseInt(const FXString& text, FXint& value) {
  FXulong v;
  if (!ParseUnsigned(text, v) || v > (FXulong)INT_MAX) return false;
  value = (FXint)v;
  return true;
}

// The geometry of an image: three positive numbers, C/H/S, within what an
// MBR's CHS fields and the analyser's 32-bit fields can hold.
static bool validGeometry(const FXString& text) {
  FXint slash1 = text.find('/');
  FXint slash2 = slash1 < 0 ? -1 : text.find('/', slash1 + 1);
  if (slash1 < 0 || slash2 < 0) return false;
  FXint c, h, s;
  if (!ParseInt(text.left(slash1), c) || !ParseInt(text.mid(slash1 + 1, slash2 - slash1 - 1), h) ||
      !ParseInt(text.right(text.length() - slash2 - 1), s))
    return false;
  return c > 0 && h > 0 && h <= 256 && s > 0 && s <= 63;
}

std::vector<FXString> EngineOptions::analyserArguments() const {
  std::vector<FXString> a;
  a.push_back("kelvarin-cli");
  if (fileGiven) {
    a.push_back("-file");
    a.push_back(file);
  }
  if (chsGiven) {
    a.push_back("-chs");
    a.push_back(chs);
  }
  if (simulation) a.push_back("-sim");
  if (useBackup) a.push_back("-usebackup");
  if (langGiven) {
    a.push_back("-lang");
    a.push_back(lang);
  }
  return a;
}

void ParseCommandLine(int argc, char** argv, CommandLine& line, UsageError& error) {
  EngineOptions& e = line.engine;
  for (int i = 1; i < argc; i++) {
    FXString arg = argv[i];
    bool hasNext = i + 1 < argc;
    auto take = [&](FXString& into) {
      if (!hasNext) {
        error.raise("kelvarin-cli.main.003", arg);
        return false;
      }
      into = argv[++i];
      return true;
    };
    if (arg == "-file") {
      e.fileGiven = take(e.file);
    } else if (arg == "-chs") {
      e.chsGiven = take(e.chs);
      if (e.chsGiven && !validGeometry(e.chs)) error.raise("kelvarin-cli.main.006", e.chs);
    } else if (arg == "-lang") {
      e.langGiven = take(e.lang);
    } else if (arg == "-tracelevel") {
      FXString level;
      if (take(level) && !ParseInt(level, e.traceLevel))
        error.raise("kelvarin-cli.main.010", level, arg);
    } else if (arg == "-sim") {
      e.simulation = true;
    } else if (arg == "-usebackup") {
      e.useBackup = true;
    } else if (arg == "--json") {
      line.json = true;
    } else if (arg == "--verbose" || arg == "-v") {
      line.verbose = true;
    } else if (arg == "--help" || arg == "-h") {
      line.help = true;
    } else if (arg == "--version") {
      line.version = true;
    } else if (line.command.empty() && !arg.empty() && arg[0] != '-') {
      line.command = arg;
    } else if (line.command.empty()) {
      error.raise("kelvarin-cli.main.004", arg);
    } else {
      line.args.push_back(arg);
    }
  }
  // An image without its geometry would silently list the machine's own
  // disks instead; a geometry without an image means nothing.
  if (!e.useBackup && e.fileGiven != e.chsGiven) error.raise("kelvarin-cli.main.005");
}

ArgReader::ArgReader(const std::vector<FXString>& args, UsageError& error)
    : args(args), error(error), pos(0), hasInline(false) {}

bool ArgReader::next(FXString& option) {
  if (error.set() || pos >= args.size()) return false;
  FXString word = args[pos++];
  hasInline = false;
  if (word.length() < 2 || word[0] != '-') {
    error.raise("kelvarin-cli.main.004", word);
    return false;
  }
  FXint eq = word.find('=');
  if (word[1] == '-' && eq > 0) {
    inlineValue = word.mid(eq + 1, word.length() - eq - 1);
    word = word.left(eq);
    hasInline = true;
  }
  current = word;
  option = word;
  return true;
}

bool ArgReader::value(FXString& text) {
  if (hasInline) {
    hasInline = false;
    text = inlineValue;
    return true;
  }
  if (pos >= args.size()) {
    error.raise("kelvarin-cli.main.003", current);
    return false;
  }
  text = args[pos++];
  return true;
}

bool ArgReader::number(FXint& n, FXint min) {
  FXString text;
  if (!value(text)) return false;
  if (!ParseInt(text, n) || n < min) {
    error.raise("kelvarin-cli.main.010", text, current);
    return false;
  }
  return true;
}

bool ArgReader::sector(FXulong& s) {
  FXString text;
  if (!value(text)) return false;
  if (!ParseUnsigned(text, s)) {
    error.raise("kelvarin-cli.main.010", text, current);
    return false;
  }
  return true;
}
