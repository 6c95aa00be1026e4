// What is inside a found volume, read before anything is written: a summary
// (label, UUID, version, block size, space, and whether its own metadata
// agrees with itself) and its folders, listed a page at a time.  Nothing
// here mounts, replays a journal or writes: every byte comes through a
// read-only VolumeView of the disk.
#ifndef KV_CONTENTS_VOLUMECONTENTS_H
#define KV_CONTENTS_VOLUMECONTENTS_H

#include <fx.h>

#include <memory>
#include <set>
#include <vector>

#include "contents/VolumeView.h"
#include "recognise/Recogniser.h"

// Something to tell the user, as a text key and its one argument (empty
// when the text takes none); each front end puts it into its own language.
struct ContentsNote {
  const FXchar* key = nullptr;
  FXString arg;
  ContentsNote() {}
  ContentsNote(const FXchar* key, const FXString& arg = FXString::null) : key(key), arg(arg) {}
  bool set() const { return key != nullptr; }
};

struct VolumeSummary {
  FXString fileSystem;      // "FAT32", "exFAT", "ext4", "NTFS", ...
  FXString label;           // empty when there is none
  FXString uuid;            // serial number or UUID as blkid prints it
  FXString version;         // the file system's own version, when it has one
  FXuint blockSize = 0;     // bytes per cluster or block
  bool spaceKnown = false;  // whether the next two are recorded
  FXulong usedBytes = 0;
  FXulong freeBytes = 0;
  // The verdict of the read-only checks: intact, or the first fault found.
  bool intact = true;
  ContentsNote damage;
};

struct DirEntry {
  FXString name;         // UTF-8, control characters shown as '?'
  bool folder = false;
  FXulong size = 0;      // bytes; 0 for folders
  FXlong modified = -1;  // seconds since 1970 (UTC), -1 when not recorded
};

struct Listing {
  bool found = false;              // whether the folder exists and could be opened
  std::vector<DirEntry> entries;   // the page asked for
  bool more = false;               // entries follow the page
  std::vector<ContentsNote> notes; // what could not be read, or was odd
};

class VolumeContents {
public:
  explicit VolumeContents(std::unique_ptr<VolumeView> view) : view(std::move(view)) {}
  virtual ~VolumeContents() {}
  virtual VolumeSummary summary() = 0;
  // The folder `path` ("/" or "/a/b", names as list() gives them), entries
  // `first` to `first + count - 1` of it in the file system's order; "."
  // and ".." are left out.
  virtual Listing list(const FXString& path, FXuint first, FXuint count) = 0;

protected:
  std::unique_ptr<VolumeView> view;
};

// The contents of the volume of `sectors` sectors at absolute sector
// `start`, or null with `why` set when no file system that can be listed
// starts there.  `disk` must outlive the result.
std::unique_ptr<VolumeContents> OpenVolumeContents(SectorReader& disk, FXulong start,
                                                   FXulong sectors, ContentsNote& why);

// The names of a path's parts, without empty ones: "/a//b/" gives a, b.
std::vector<FXString> PathParts(const FXString& path);

// What the listings share.
namespace contents {

// At most this many entries of one folder are looked at; a folder said to
// hold more is hostile or broken, and the rest is not read.
const FXuint MAX_ENTRIES = 1000000;

// `name` with every control character replaced by '?'; `replaced` is set
// when one was.
FXString printableName(const FXString& name, bool& replaced);

// Adds `note` to `listing` unless the same key is there already.
void addNote(Listing& listing, const ContentsNote& note);

// Takes one entry a listing walks past: counts it, keeps it when it falls
// into the page, and says whether the walk can stop (the page is full and
// one more entry proved there are more).
class Pager {
public:
  Pager(Listing& listing, FXuint first, FXuint count) : listing(listing), first(first), count(count) {}
  // False once the walk can stop.
  bool take(const DirEntry& entry);
  FXuint seen() const { return index; }
  // Whether the next entry taken falls into the page: only those need
  // their details read.
  bool inPage() const { return index >= first && index - first < count; }

private:
  Listing& listing;
  FXuint first, count;
  FXuint index = 0;
};

// The clusters of a FAT or exFAT chain from `first` on, following `next`
// (false when the table cannot be read) until an end mark (any value of
// `endMark` or above).  False when the chain leaves clusters 2 to
// clusters + 1, comes back to a cluster it passed (a loop), or grows past
// `limit` clusters: the clusters gathered so far are kept.
template <typename Next>
bool followChain(FXuint first, FXulong clusters, FXuint endMark, size_t limit, Next next,
                 std::vector<FXuint>& chain) {
  std::set<FXuint> seen;
  for (FXuint c = first;;) {
    if (c < 2 || c - 2 >= clusters || !seen.insert(c).second || chain.size() >= limit) return false;
    chain.push_back(c);
    FXuint following;
    if (!next(c, following)) return false;
    if (following >= endMark) return true;
    c = following;
  }
}

// A listing for file systems read here directly: `walk(place, listing,
// visit)` calls `visit(entry)` for each entry of the folder at `place` until
// it returns false; an entry carries `shown` (its DirEntry) and `place`
// (where its own entries are, for a folder).  The path is followed from
// `root` one name at a time, then one page of the folder is taken.
template <typename Place, typename Walk>
Listing listFolder(const FXString& path, FXuint first, FXuint count, const Place& root, Walk walk) {
  Listing listing;
  Place place = root;
  for (const FXString& part : PathParts(path)) {
    bool found = false;
    walk(place, listing, [&](const auto& e) {
      if (!e.shown.folder || e.shown.name != part) return true;
      found = true;
      place = e.place;
      return false;
    });
    if (!found) {
      addNote(listing, ContentsNote("Contents.List.001", path));
      return listing;
    }
  }
  listing.found = true;
  Pager pager(listing, first, count);
  walk(place, listing, [&](const auto& e) { return pager.take(e.shown); });
  return listing;
}

// Seconds since 1970 from a DOS date and time (FAT, exFAT); -1 for a zero
// or impossible date.
FXlong dosTime(FXuint date, FXuint time);

}  // namespace contents

// The units, one per family, given a volume the recognisers said is theirs;
// null with `why` set when it cannot be opened after all.
typedef std::unique_ptr<VolumeContents> ContentsOpener(std::unique_ptr<VolumeView> view,
                                                       VolumeKind kind, ContentsNote& why);
ContentsOpener OpenFatContents, OpenExfatContents, OpenExtContents, OpenNtfsContents;

#endif
