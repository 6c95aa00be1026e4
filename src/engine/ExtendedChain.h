// The chain of extended partition table blocks (EPTBs) behind an extended
// partition.  The table reader, the gap finder, the overlap test and the
// writer all walk it here, so they agree on which tables a chain has and
// where it ends, however the chain on disk is damaged.
#ifndef KV_EXTENDEDCHAIN_H
#define KV_EXTENDEDCHAIN_H

#include <fx.h>

#include <functional>
#include <set>

#include "Records.h"
#include "recognise/SectorReader.h"

// One EPTB as a walk meets it.
struct ChainTable {
  FXulong sector = 0;  // where it lies
  FXint index = 0;     // 0 for the table the walk started at
  FXuchar bytes[SECTOR_SIZE];
  FXint linkSlot = -1;  // the slot that leads to the next table; -1 when none
  FXulong next = 0;     // the sector that link leads to

  PartitionEntry slot(FXint k) const { return PartitionEntry::fromTable(bytes, k); }
  bool hasLink() const { return linkSlot >= 0; }
};

class ExtendedChain {
public:
  // A walk passes at most 15 EPTBs and never one twice, so a chain that
  // loops, or links on for ever, ends.  Sector 0 holds the MBR and is never
  // an EPTB.
  static const FXint MAX_TABLES = 15;

  enum End {
    WALKING,     // the walk goes on
    LAST_TABLE,  // a table without a link: the chain ends as it should
    LOOPS,       // a link leads back to a table already passed, or to sector 0
    TOO_LONG,    // a link leads past the 15th table
    NO_TABLE,    // a link (or the start) leads to a sector that cannot be
                 // read or holds no table signature
  };

  // Reads the 512 bytes of `sector`; false when they cannot be read.
  using SectorReader = std::function<bool(FXulong sector, FXuchar* bytes)>;

  // A chain starting with the table at `first`, whose links count from
  // `linkBase`: the first sector of the extended partition the MBR lists.
  ExtendedChain(FXulong first, FXulong linkBase, SectorReader read);
  // A chain whose links count from the table that holds them, as the writer
  // builds one from found EPTBs before it rebases the links.
  static ExtendedChain LinkedFromEachTable(FXulong first, SectorReader read);

  // The next table; false when the chain has ended, and end() says how.
  bool Next(ChainTable& table);
  End end() const { return ended; }
  bool endsProperly() const { return ended == LAST_TABLE; }
  // Where a walk that did not end properly stopped: the sector the last
  // link (or the start) led to.
  FXulong stoppedAt() const { return pending; }
  // The tables passed so far.
  FXint tables() const { return passed; }

  // The slot of the link to the next table: the first of an extended type;
  // -1 when there is none.
  static FXint LinkSlot(const FXuchar* table);

  // Readers for the walk: straight from a device, or through a read
  // context's reader.
  static SectorReader ReadFrom(const FXString& device);
  static SectorReader ReadWith(::SectorReader& reader);

private:
  FXulong linkBase;
  bool linksFromEachTable = false;
  SectorReader read;
  FXulong pending;  // the sector of the next table to read
  FXint passed = 0;
  End ended = WALKING;
  std::set<FXulong> visited;
};

#endif
