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

#endif
