// What --pick names, for `recover` and `show`: a candidate id of a search
// run again, or a found-at sector.
#ifndef KVCLI_PICKS_H
#define KVCLI_PICKS_H

#include <fx.h>

#include <vector>

#include "Candidates.h"
#include "SearchRun.h"
#include "Session.h"

// What one --pick names: a candidate id of the search that recover runs,
// or a found-at sector (with the entry's slot when the sector is a table).
struct Pick {
  FXString text;
  bool bySector = false;
  FXint id = 0;
  FXulong sector = 0;
  FXint slot = 0;  // 0: the only candidate at the sector
  PlacementRole role = PlacementRole::AUTO;  // ":logical" or ":primary" after it
  bool efiSystem = false;                    // ":esp" after it
};

// Reads "ID", "@SECTOR" or "@SECTOR:SLOT", each optionally followed by
// ":logical" or ":primary" and by ":esp", in either order; false when the
// text is none.
bool ParsePick(const FXString& text, Pick& pick);

// Takes "--pick VALUE" into `picks`, or reports a value that names no
// pick; false when `option` is not --pick.
bool ReadPick(ArgReader& reader, const FXString& option, std::vector<Pick>& picks, UsageError& usage);

// Resolves every pick to a candidate of `disk` (searching when an id is
// given); EXIT_OK or the status to end with, its message shown.  `found`
// gathers every candidate met on the way, chosen or not.
int ResolvePicks(Session& session, const SearchChoice& search, const std::vector<Pick>& picks,
                 FXint disk, std::vector<Candidate>& chosen, std::vector<Candidate>& found);

#endif
