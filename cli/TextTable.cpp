#include "TextTable.h"

#include "Texts.h"

TextTable::TextTable(const std::vector<FXString>& headings)
    : headings(headings), right(headings.size(), false) {}

void TextTable::alignRight(size_t column) {
  if (column < right.size()) right[column] = true;
}

void TextTable::add(const std::vector<FXString>& row) { rows.push_back(row); }

FXString TextTable::render(FXint indent) const {
  std::vector<FXint> width(headings.size(), 0);
  auto measure = [&](const std::vector<FXString>& row) {
    for (size_t c = 0; c < row.size() && c < width.size(); c++) {
      FXint w = Texts::displayWidth(row[c]);
      if (w > width[c]) width[c] = w;
    }
  };
  measure(headings);
  for (const auto& row : rows) measure(row);

  FXString out;
  auto line = [&](const std::vector<FXString>& row) {
    FXString text(' ', indent);
    for (size_t c = 0; c < width.size(); c++) {
      FXString cell = c < row.size() ? row[c] : FXString::null;
      FXint pad = width[c] - Texts::displayWidth(cell);
      if (c > 0) text.append("  ");
      if (right[c]) text.append(' ', pad);
      text.append(cell);
      if (!right[c]) text.append(' ', pad);
    }
    text.trimEnd();
    out.append(text);
    out.append('\n');
  };
  line(headings);
  for (const auto& row : rows) line(row);
  return out;
}
