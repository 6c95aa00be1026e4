// The fonts a language asks for.  They belong to the application's display,
// so they live with the widgets; the texts themselves need none.
#include <fx.h>

#include <cstdlib>
#include <vector>

#include "Information.h"
#include "compat/Assert.h"

namespace {

// FOX keeps a font's face in a fixed array of 116 characters (FXFontDesc);
// longer faces from a language header are cut well below that.
const FXint MAX_FACE = 100;

// Normal fonts made for languages, and the application's own one they
// replaced.  Only the thread that runs the application makes fonts.
std::vector<FXFont*> madeFonts;
FXFont* firstNormalFont = nullptr;

// The face of a font text ("face" or "face,size,..."), cut to what FOX keeps.
FXString faceOf(const FXString& fontText) {
  FXString face = fontText.before(',');
  if (face.length() > MAX_FACE) face = face.left(MAX_FACE);
  return face;
}

// A language font's size in tenths of a point; 0 when it gives none that a
// font can have.
FXuint sizeOf(const FXString& fontText) {
  long size = strtol(fontText.after(',').text(), nullptr, 10);
  return (size > 0 && size <= 2000) ? (FXuint)size : 0;
}

}  // namespace

void Information::SetLanguage(FXApp* app, const FXString& lang) {
  ChooseLanguage(lang);
  SetFontEncoding(app, this, currentEncoding);
}

void Information::SetFontEncoding(FXApp* app, Information* info, FXint encoding) {
  KV_TRACE(10, "Information::SetFontEncoding( encoding = %u )\n", (FXuint)encoding);
  FXFont* normal = app ? app->getNormalFont() : nullptr;
  if (!normal || !info) {
    // No application, or one that was never initialised: there is no normal
    // font to change, only the encoding later fonts are made in.
    currentEncoding = (FXushort)encoding;
    return;
  }
  KV_TRACE(11, "Information::SetFontEncoding actual font is %s\n", normal->getName().text());
  FXFontDesc N;
  normal->getFontDesc(N);

  const FXString& fontText = info->font;
  bool hasSize = !fontText.after(',').empty();
  // Sizes below are in tenths of a point, as in a font description.
  FXFont* F = new FXFont(app, fontText.empty() ? FXString("Arial,10") : faceOf(fontText) + ",10");
  FXFontDesc D;
  F->getFontDesc(D);
  if (hasSize) {
    FXuint size = sizeOf(fontText);
    D.size = (FXushort)(size ? size : N.size);
    D.weight = FXFont::Normal;
    D.slant = FXFont::Straight;
    D.setwidth = FXFont::NonExpanded;
    D.encoding = FONTENCODING_DEFAULT;
  }
  KV_TRACE(11, "Information::SetFontEncoding encoding is %d\n", D.encoding);
  D.encoding = (FXushort)encoding;
  if (!hasSize) {
    D.size = N.size;
    D.weight = N.weight;
    D.slant = N.slant;
    D.setwidth = N.setwidth;
  }
  D.flags = N.flags;
  F->setFontDesc(D);

  if (madeFonts.empty()) firstNormalFont = normal;
  madeFonts.push_back(F);
  app->setNormalFont(F);
  KV_TRACE(11, "Information::SetFontEncoding changed font is %s\n", app->getNormalFont()->getName().text());
  KV_TRACE(11, "Information::SetFontEncoding changed encoding is %d\n", encoding);
  currentEncoding = (FXushort)encoding;
}

FXFont* Information::GetFontEncoded(const FXString& fontText, FXApp* app) {
  KV_TRACE(10, "Information::GetFontEncoded( font = %s )\n", fontText.text());
  if (!app) return nullptr;
  FXString description = fontText;
  if (!font.empty()) {
    KV_TRACE(11, "Information::GetFontEncoded overriding font to %s\n", font.text());
    description = faceOf(font) + "," + fontText.after(',');
  }
  KV_TRACE(11, "Information::GetFontEncoded trying font %s\n", description.text());
  FXFont* result = new FXFont(app, description);
  FXFontDesc D;
  result->getFontDesc(D);
  KV_TRACE(11, "Information::GetFontEncoded encoding is %d\n", D.encoding);
  D.encoding = currentEncoding;
  result->setFontDesc(D);
  KV_TRACE(11, "Information::GetFontEncoded changed encoding is %d\n", D.encoding);
  return result;
}

void Information::ReleaseFonts(FXApp* app) {
  if (madeFonts.empty()) return;
  if (app && firstNormalFont) app->setNormalFont(firstNormalFont);
  for (FXFont* f : madeFonts) delete f;
  madeFonts.clear();
  firstNormalFont = nullptr;
}
