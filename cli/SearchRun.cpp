#include "SearchRun.h"

#include <map>
#include <set>
#include <tuple>

#include "Console.h"

bool SearchChoice::read(ArgReader& reader, const FXString& option) {
  if (option == "--quick") {
    quick = true;
    quickGiven = true;
  } else if (option == "--full") {
    quick = false;
    fullGiven = true;
  } else if (option == "--disk") {
    reader.number(disk, 1);
  } else if (option == "--gap") {
    FXint gap = 0;
    if (reader.number(gap, 1)) gaps.push_back(gap);
  } else {
    return false;
  }
  return true;
}

void SearchChoice::check(UsageError& error) const {
  if (quickGiven && fullGiven) error.raise("kelvarin-cli.main.013", "--quick", "--full");
  if (!gaps.empty() && disk == 0) error.raise("kelvarin-cli.search.010");
}

bool ChooseStretches(Session& session, const SearchChoice& choice, std::vector<Stretch>& chosen) {
  chosen.clear();
  FXint only = -1;
  if (choice.disk && !session.diskIndex(choice.disk, only)) return false;
  std::vector<Stretch> all = SearchableStretches(session.analyser());
  for (FXint gap : choice.gaps) {
    bool exists = false;
    for (const Stretch& s : all) exists = exists || (s.disk == only && s.number == gap);
    if (!exists) {
      session.error(session.texts.format("kelvarin-cli.search.009", gap, choice.disk));
      return false;
    }
  }
  for (const Stretch& s : all) {
    if (only >= 0 && s.disk != only) continue;
    bool wanted = choice.gaps.empty();
    for (FXint gap : choice.gaps) wanted = wanted || gap == s.number;
    if (wanted) chosen.push_back(s);
  }
  return true;
}

FXString PickText(const Candidate& c, size_t candidatesAtSector) {
  FXString t;
  if (candidatesAtSector > 1) {
    t.format("@%llu:%d", (unsigned long long)c.foundAt, c.slot);
  } else {
    t.format("@%llu", (unsigned long long)c.foundAt);
  }
  return t;
}

// The search's log lines, shown with --verbose.
class LogToStderr : public SearchText {
public:
  LogToStderr(Session& session, ProgressBar& bar) : session(session), bar(bar) {}
  void appendText(const FXString& text) override {
    bar.finish();
    FXString t = session.texts.toTerminal(text);
    fputs(t.text(), Console::Err());
    fflush(Console::Err());
  }

private:
  Session& session;
  ProgressBar& bar;
};

SearchResult RunSearch(Session& session, const std::vector<Stretch>& chosen, bool quick) {
  Analyse& analyser = session.analyser();
  SearchResult result;
  // The search shares out its progress among every gap there is, as the
  // wizard's free-space chooser counts them.
  FXint areas = (FXint)SearchableStretches(analyser).size();
  ProgressBar bar(SearchProgressTotal(analyser, chosen, quick),
                  Console::ErrIsTerminal() && !session.line.verbose);
  LogToStderr log(session, bar);
  CandidateFinder finder(analyser);
  finder.clear();
  std::map<FXint, FXint> nextId;  // per disk
  std::set<std::tuple<FXint, FXulong, FXulong>> listed;  // disk, start, sectors

  {
    InterruptGuard guard(&analyser, session.texts.get("kelvarin-cli.search.007"));
    for (const Stretch& s : chosen) {
      if (InterruptGuard::interrupted()) break;
      bar.setLabel(session.texts.format("kelvarin-cli.search.014", s.disk + 1, s.number));
      if (session.line.verbose) {
        log.appendText(analyser.Format("Kelvarin.Search.001", s.disk + 1, (double)s.start,
                                       (double)s.end));
      }
      bar.resetAbnormal();
      // The wizard hands the search the stretch's last sector as its bound.
      std::vector<FXulong> sectors = analyser.Search(&bar, session.line.verbose ? &log : nullptr,
                                                     s.disk, quick, s.start, s.end - 1, areas);
      if (session.line.verbose) log.appendText("\n");
      result.searched.push_back(SearchResult::Searched{s, sectors, bar.abnormalEnd()});
      if (bar.abnormalEnd()) result.ioError = true;
    }
    result.interrupted = InterruptGuard::interrupted();
  }
  bar.finish();

  // Candidates are placed after the whole search, in the order the sectors
  // were found, so a progress bar never runs through the letters' lookups.
  for (const SearchResult::Searched& done : result.searched) {
    std::vector<Candidate> placed = finder.place(done.stretch.disk, done.sectors);
    std::map<FXulong, size_t> perSector;
    for (const Candidate& c : placed) perSector[c.foundAt]++;
    for (const Candidate& c : placed) {
      // A volume the searches of two stretches both met is one candidate.
      if (!listed.insert({c.disk, c.start(), c.sectors()}).second) continue;
      FXint id = ++nextId[c.disk];
      result.candidates.push_back(FoundCandidate{id, c, PickText(c, perSector[c.foundAt])});
    }
  }
  return result;
}
