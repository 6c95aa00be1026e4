// One run of kelvarin-cli: the command line, the texts, the analyser, and
// the ways to talk to the user.
#ifndef KVCLI_SESSION_H
#define KVCLI_SESSION_H

#include <fx.h>

#include <vector>

#include "Analyse.h"
#include "CommandLine.h"
#include "Information.h"
#include "Texts.h"

class Session {
public:
  explicit Session(const CommandLine& line);
  ~Session();

  const CommandLine& line;
  Texts texts;

  // Builds the analyser from the disk and safety options, as the wizard
  // does at start-up.  EXIT_OK, or the status to end with (its message has
  // been shown).
  int openDisks();
  // The same, then turns the 1-based disk number the user gave into an
  // index; 0 stands for every disk (index -1).  EXIT_USAGE when there is no
  // such disk.
  int openDisks(FXint diskNumber, FXint& index);
  Analyse& analyser() { return *analyse; }

  // A message on standard error, "kelvarin-cli: " first.
  void error(const FXString& text);
  // A note on standard error, as it is.
  void note(const FXString& text);
  // Results on standard output.
  void print(const FXString& text);

  // Reports a usage error and returns EXIT_USAGE.
  int usage(const UsageError& e);

  // Checks a 1-based disk number given by the user; fills the index.
  bool diskIndex(FXint number, FXint& index);

private:
  Information startInfo;  // texts before the analyser exists
  Analyse* analyse;
};

#endif
