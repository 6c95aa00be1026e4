// The search as the wizard runs it, for `search` and for `recover`, which
// runs it again to find the candidates its ids name.
#ifndef KVCLI_SEARCHRUN_H
#define KVCLI_SEARCHRUN_H

#include <fx.h>

#include <vector>

#include "Candidates.h"
#include "CommandLine.h"
#include "Session.h"

// Which stretches to search, and how.
struct SearchChoice {
  bool quick = true;
  bool quickGiven = false;
  bool fullGiven = false;
  FXint disk = 0;            // 1-based; 0 = every disk
  std::vector<FXint> gaps;   // 1-based gap numbers of that disk; empty = all

  // Takes --quick, --full, --disk and --gap; false when `option` is none
  // of them.
  bool read(ArgReader& reader, const FXString& option);
  // Reports contradictions (--quick with --full, --gap without --disk).
  void check(UsageError& error) const;
};

// A candidate with the id the user names it by.  Ids count from 1 on each
// disk, in the order the search found them.
struct FoundCandidate {
  FXint id;
  Candidate candidate;
  FXString pick;  // the --pick argument that names it without a search
};

struct SearchResult {
  struct Searched {
    Stretch stretch;
    std::vector<FXulong> sectors;  // what the search reported
    bool ioError;
  };
  std::vector<Searched> searched;
  std::vector<FoundCandidate> candidates;
  bool interrupted = false;
  bool ioError = false;
};

// The stretches the choice names; false (after reporting it) when a disk or
// gap does not exist.
bool ChooseStretches(Session& session, const SearchChoice& choice, std::vector<Stretch>& chosen);

// Searches the stretches in order, shows progress on a terminal, stops the
// first pass on Ctrl-C, and turns every found sector into candidates as the
// recovery chooser does.
SearchResult RunSearch(Session& session, const std::vector<Stretch>& chosen, bool quick);

// The --pick text that names the candidate at `foundAt` without a search.
FXString PickText(const Candidate& c, size_t candidatesAtSector);

#endif
