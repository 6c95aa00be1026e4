// Where kelvarin-cli's output goes.
//
// Results go to standard output.  Messages, questions and the progress bar
// go to standard error.  The engine writes its own progress notes ("device
// ... ", backup dumps) to standard error as well; they are meant for
// tracing, so unless the user asks for them (--verbose or -tracelevel) they
// are sent to /dev/null while our own messages keep the real stream.
#ifndef KVCLI_CONSOLE_H
#define KVCLI_CONSOLE_H

#include <fx.h>

#include <csignal>
#include <cstdio>

#include "Analyse.h"

namespace Console {

// Call once, first thing.
void Setup(bool engineMessages);
FILE* Out();
FILE* Err();
bool ErrIsTerminal();
bool InIsTerminal();

// Writes a line (a line feed is added unless the text ends in one).
void Print(FILE* stream, const FXString& text);

}  // namespace Console

// Ctrl-C during a search stops its first pass the way Cancel does in the
// wizard: the analyser's stopSearch is set, the search checks what it has
// found so far and reports it.  A second Ctrl-C ends the program at once.
// While partition tables are written, Ctrl-C is held back until the writing
// is done, so no disk is left with half a table.
class InterruptGuard {
public:
  // `message` is shown when the first Ctrl-C arrives.
  InterruptGuard(Analyse* analyser, const FXString& message);
  ~InterruptGuard();
  static bool interrupted();

private:
  struct sigaction previous;
};

class HoldInterrupts {
public:
  HoldInterrupts();
  ~HoldInterrupts();

private:
  sigset_t previous;
};

// A progress bar on standard error, drawn only when it is a terminal.
class ProgressBar : public SearchProgress {
public:
  ProgressBar(FXulong total, bool draw);
  ~ProgressBar();

  FXuint getTotal() override;
  FXuint getProgress() override;
  void post(FXint kind, FXulong value) override;

  void setLabel(const FXString& text);
  // Clears the bar's line.
  void finish();
  // A stretch ended early (the disk could not be read).
  bool abnormalEnd() const { return abnormal; }
  void resetAbnormal() { abnormal = false; }

private:
  FXulong total;
  FXulong done;
  bool draw;
  bool abnormal;
  bool shown;
  FXint lastPercent;
  FXString label;
  void redraw(bool force);
};

#endif
