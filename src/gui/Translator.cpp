#include "Translator.h"

#include "Information.h"
#include "compat/Assert.h"

FXIMPLEMENT(MyTranslator, FXTranslator, NULL, 0)

MyTranslator::MyTranslator(FXApp* app, Information* texts) : FXTranslator(app), texts(texts) {
  KV_TRACE(100, "%p->MyTranslator::MyTranslator\n", (void*)this);
}

MyTranslator::~MyTranslator() { KV_TRACE(100, "%p->MyTranslator::~MyTranslator\n", (void*)this); }

const FXchar* MyTranslator::tr(const FXchar* context, const FXchar* message, const FXchar* hint) const {
  KV_TRACE(200, "tr context: '%s' message: '%s' hint: '%s'.\n", context ? context : "", message ? message : "",
           hint ? hint : "");
  if (!message || !texts) return message;
  const FXchar* text = texts->GetStringText(FXString("MyTranslator.tr.") + message);
  return compare(text, "<not available>") == 0 ? message : text;
}
