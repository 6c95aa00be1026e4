#include "CommandLine.h"

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
  // A geometry without an image means nothing.  The values themselves are
  // the analyser's to judge, as the wizard's are.
  if (!e.useBackup && e.chsGiven && !e.fileGiven) error.raise("kelvarin-cli.main.005");
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
