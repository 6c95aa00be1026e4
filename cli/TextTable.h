// Columns of text for the terminal, padded by what the terminal shows, so
// translated headings with accented letters stay aligned.
#ifndef KVCLI_TEXTTABLE_H
#define KVCLI_TEXTTABLE_H

#include <fx.h>

#include <vector>

class TextTable {
public:
  // Columns are left-aligned unless marked as numbers.
  explicit TextTable(const std::vector<FXString>& headings);
  void alignRight(size_t column);
  void add(const std::vector<FXString>& row);
  bool empty() const { return rows.empty(); }
  // Every line starts with `indent` blanks; trailing blanks are dropped.
  FXString render(FXint indent) const;

private:
  std::vector<FXString> headings;
  std::vector<bool> right;
  std::vector<std::vector<FXString>> rows;
};

#endif
