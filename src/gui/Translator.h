// Sends the toolkit's own texts through the program's translations.
#ifndef KV_TRANSLATOR_H
#define KV_TRANSLATOR_H

#include <fx.h>
#include <FXTranslator.h>

class Information;

// Installed on the application while the main window runs.  A toolkit text
// "T" is looked up as the key "MyTranslator.tr.T" in the texts' language.
class MyTranslator : public FXTranslator {
  FXDECLARE(MyTranslator)
protected:
  MyTranslator() : texts(nullptr) {}

public:
  // `texts` (the main window's Information part) must outlive the translator.
  MyTranslator(FXApp* app, Information* texts);
  virtual ~MyTranslator();

  // The translation, valid until the next call; the toolkit text itself when
  // the language files have none, so an untranslated button keeps its text.
  virtual const FXchar* tr(const FXchar* context, const FXchar* message, const FXchar* hint = NULL) const;

private:
  Information* texts;
};

#endif
