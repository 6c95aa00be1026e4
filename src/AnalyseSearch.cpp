// The lost-partition search.
#include "Analyse.h"

std::vector<FXulong> Analyse::Search(SearchProgress*, SearchText*, FXint, bool, FXulong, FXulong,
                                     FXint) {
  return {};
}

std::vector<FXulong> Analyse::SearchQuick(SearchProgress* progress, SearchText* text, FXint disk,
                                          FXulong start_sec, FXulong end_sec, FXint areas) {
  return sharedAnalyser->Search(progress, text, disk, true, start_sec, end_sec, areas);
}

std::vector<FXulong> Analyse::SearchFull(SearchProgress* progress, SearchText* text, FXint disk,
                                         FXulong start_sec, FXulong end_sec, FXint areas) {
  return sharedAnalyser->Search(progress, text, disk, false, start_sec, end_sec, areas);
}

bool Analyse::CheckOne(FXulong, SearchText*) { return false; }
