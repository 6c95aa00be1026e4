// Picks resolved to candidates, as `recover` and `show` take them.
#include "Picks.h"

#include <cstring>
#include <utility>

namespace {

bool sameCandidate(const Candidate& a, const Candidate& b) {
  return a.disk == b.disk && a.foundAt == b.foundAt && a.slot == b.slot;
}

}  // namespace

bool ParsePick(const FXString& given, Pick& pick) {
  pick.text = given;
  FXString text = given;
  // Takes `suffix` off the end of the text; false when it does not end so.
  auto strip = [&text](const FXchar* suffix) {
    FXint length = (FXint)strlen(suffix);
    if (text.length() <= length || text.right(length) != suffix) return false;
    text = text.left(text.length() - length);
    return true;
  };
  pick.efiSystem = strip(":esp");
  for (const auto& role : {std::make_pair(":logical", PlacementRole::LOGICAL),
                           std::make_pair(":primary", PlacementRole::PRIMARY)})
    if (strip(role.first)) pick.role = role.second;
  pick.efiSystem = strip(":esp") || pick.efiSystem;
  if (text.empty()) return false;
  if (text[0] != '@') return ParseInt(text, pick.id) && pick.id >= 1;
  pick.bySector = true;
  FXString rest = text.mid(1, text.length() - 1);
  FXint colon = rest.find(':');
  if (colon < 0) return ParseUnsigned(rest, pick.sector);
  return ParseUnsigned(rest.left(colon), pick.sector) &&
         ParseInt(rest.mid(colon + 1, rest.length() - colon - 1), pick.slot) && pick.slot >= 1;
}

bool ReadPick(ArgReader& reader, const FXString& option, std::vector<Pick>& picks, UsageError& usage) {
  if (option != "--pick") return false;
  FXString text;
  Pick pick;
  if (!reader.value(text)) return true;
  if (ParsePick(text, pick)) {
    picks.push_back(pick);
  } else {
    usage.raise("kelvarin-cli.main.010", text, option);
  }
  return true;
}

int ResolvePicks(Session& session, const SearchChoice& search, const std::vector<Pick>& picks,
                 FXint disk, std::vector<Candidate>& chosen, std::vector<Candidate>& found) {
  Texts& tx = session.texts;
  bool needSearch = false;
  for (const Pick& p : picks) needSearch = needSearch || !p.bySector;

  SearchResult searched;
  if (needSearch) {
    std::vector<Stretch> stretches;
    if (!ChooseStretches(session, search, stretches)) return EXIT_USAGE;
    searched = RunSearch(session, stretches, search.quick);
    if (searched.ioError) {
      session.error(tx.get("kelvarin-cli.recover.018"));
      return EXIT_IO;
    }
    if (searched.interrupted) {
      // Ids of a search cut short may name other partitions: write nothing.
      session.note(tx.get("kelvarin-cli.search.017"));
      return EXIT_NOTHING;
    }
    for (const FoundCandidate& f : searched.candidates) found.push_back(f.candidate);
  }

  CandidateFinder finder(session.analyser());
  std::vector<Stretch> stretches = SearchableStretches(session.analyser());
  for (const Pick& p : picks) {
    if (!p.bySector) {
      const FoundCandidate* hit = nullptr;
      for (const FoundCandidate& f : searched.candidates)
        if (f.id == p.id) hit = &f;
      if (!hit) {
        session.error(tx.format("kelvarin-cli.recover.004", p.id, disk + 1));
        return EXIT_NOTHING;
      }
      chosen.push_back(hit->candidate);
      chosen.back().role = p.role;
      chosen.back().efiSystem = p.efiSystem;
      continue;
    }
    if (!StretchContaining(stretches, disk, p.sector)) {
      session.error(tx.format("kelvarin-cli.recover.008", (double)p.sector, disk + 1));
      return EXIT_NOTHING;
    }
    std::vector<Candidate> here = finder.place(disk, {p.sector});
    found.insert(found.end(), here.begin(), here.end());
    if (here.empty()) {
      session.error(tx.format("kelvarin-cli.recover.005", (double)p.sector, disk + 1));
      return EXIT_NOTHING;
    }
    if (p.slot == 0 && here.size() > 1) {
      session.error(tx.format("kelvarin-cli.recover.006", (double)p.sector, (FXint)here.size(),
                              (double)p.sector));
      return EXIT_USAGE;
    }
    FXint slot = p.slot ? p.slot : 1;
    if (slot > (FXint)here.size()) {
      session.error(tx.format("kelvarin-cli.recover.019", p.text.text(), disk + 1));
      return EXIT_NOTHING;
    }
    chosen.push_back(here[slot - 1]);
    chosen.back().role = p.role;
    chosen.back().efiSystem = p.efiSystem;
  }

  // The same candidate named twice is chosen once.
  std::vector<Candidate> unique;
  for (const Candidate& c : chosen) {
    bool seen = false;
    for (const Candidate& u : unique) seen = seen || sameCandidate(c, u);
    if (!seen) unique.push_back(c);
  }
  chosen = unique;

  // Two candidates that overlap cannot both be restored; the wizard's
  // chooser drops one when the other is chosen.
  for (size_t i = 0; i < chosen.size(); i++) {
    for (size_t j = i + 1; j < chosen.size(); j++) {
      if (!chosen[i].overlaps(chosen[j])) continue;
      session.error(tx.format("kelvarin-cli.recover.007", (double)chosen[i].start(),
                              (double)chosen[j].start()));
      return EXIT_NOTHING;
    }
  }
  return EXIT_OK;
}

