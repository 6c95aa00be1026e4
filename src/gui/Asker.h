// Every note and question the wizard shows goes through an Asker.  The
// program's own one shows the toolkit's message boxes; tests put one in its
// place that answers from a script.
#ifndef KV_ASKER_H
#define KV_ASKER_H

#include <fx.h>

class Asker {
public:
  virtual ~Asker() {}
  // An information box with an OK button.
  virtual void inform(FXWindow* owner, const FXString& caption, const FXString& text) = 0;
  // A question box with Yes and No; true on Yes.
  virtual bool ask(FXWindow* owner, const FXString& caption, const FXString& text) = 0;
};

// Shows FXMessageBox information and question boxes.
class MessageBoxAsker : public Asker {
public:
  void inform(FXWindow* owner, const FXString& caption, const FXString& text) override;
  bool ask(FXWindow* owner, const FXString& caption, const FXString& text) override;
};

// A message box is as wide as its longest line: longer lines are broken at
// blanks, so that no box grows wider than a line of this many pixels.
const FXint MESSAGE_LINE_WIDTH = 600;

// `text` broken into lines of at most MESSAGE_LINE_WIDTH pixels in the font
// message boxes use (the application's normal font).
FXString WrapForMessageBox(FXApp* app, const FXString& text);

#endif
