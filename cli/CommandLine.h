// The command line of kelvarin-cli:
//
//   kelvarin-cli [disk and safety options] COMMAND [command options]
//
// The disk and safety options are the program's own (-file IMG -chs C/H/S,
// -usebackup, -sim, -lang CODE, -tracelevel N) and may stand anywhere; the
// analyser takes them as the wizard does.  --json, --verbose and --help are
// understood everywhere as well.  Everything else belongs to the command.
#ifndef KVCLI_COMMANDLINE_H
#define KVCLI_COMMANDLINE_H

#include <fx.h>

#include <vector>

// Exit statuses.
enum ExitStatus { EXIT_OK = 0, EXIT_NOTHING = 1, EXIT_USAGE = 2, EXIT_IO = 3 };

// A usage error: the key of its text and up to two arguments for it.
struct UsageError {
  const FXchar* key = nullptr;
  FXString arg1, arg2;
  bool set() const { return key != nullptr; }
  void raise(const FXchar* k, const FXString& a1 = FXString::null,
             const FXString& a2 = FXString::null) {
    if (key) return;  // the first error is the one to report
    key = k;
    arg1 = a1;
    arg2 = a2;
  }
};

struct EngineOptions {
  FXString file;
  FXString chs;
  FXString lang;
  FXint traceLevel = -1;
  bool fileGiven = false;
  bool chsGiven = false;
  bool simulation = false;
  bool useBackup = false;
  bool langGiven = false;

  // The arguments the analyser is constructed with, program name first.
  std::vector<FXString> analyserArguments() const;
};

struct CommandLine {
  EngineOptions engine;
  FXString command;
  std::vector<FXString> args;  // the command's own arguments
  bool json = false;
  bool verbose = false;
  bool help = false;
  bool version = false;
};

// Splits argv; engine options are checked here (-file needs -chs, the
// geometry must read C/H/S).
void ParseCommandLine(int argc, char** argv, CommandLine& line, UsageError& error);

// Walks a command's own arguments.  Options may be written "--name value"
// or "--name=value".
class ArgReader {
public:
  ArgReader(const std::vector<FXString>& args, UsageError& error);
  // The next option name, or false at the end.  A word that is not an
  // option is a usage error.
  bool next(FXString& option);
  // The value of the current option.
  bool value(FXString& text);
  bool number(FXint& n, FXint min);
  bool sector(FXulong& s);

private:
  const std::vector<FXString>& args;
  UsageError& error;
  size_t pos;
  FXString current;
  FXString inlineValue;
  bool hasInline;
};

// Strict decimal numbers: digits only, no sign, no overflow.
bool ParseUnsigned(const FXString& text, FXulong& value);
bool ParseInt(const FXString& text, FXint& value);

#endif
