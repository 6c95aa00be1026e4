#include "ExtendedChain.h"

#include <cstring>

#include "IOSystem.h"
#include "compat/Assert.h"

ExtendedChain::ExtendedChain(FXulong first, FXulong linkBase, SectorReader read)
    : linkBase(linkBase), read(std::move(read)), pending(first) {}

ExtendedChain ExtendedChain::LinkedFromEachTable(FXulong first, SectorReader read) {
  ExtendedChain chain(first, 0, std::move(read));
  chain.linksFromEachTable = true;
  return chain;
}

FXint ExtendedChain::LinkSlot(const FXuchar* table) {
  for (FXint k = 0; k < 4; k++)
    if (isExtendedType(PartitionEntry::fromTable(table, k).type)) return k;
  return -1;
}

bool ExtendedChain::Next(ChainTable& table) {
  if (ended != WALKING) return false;
  if (pending == 0 || visited.count(pending)) {
    KV_TRACE(8, "ExtendedChain::Next link to sector %.0lf loops\n", (double)pending);
    ended = LOOPS;
    return false;
  }
  if (passed == MAX_TABLES) {
    KV_TRACE(8, "ExtendedChain::Next chain longer than %d tables\n", MAX_TABLES);
    ended = TOO_LONG;
    return false;
  }
  memset(table.bytes, 0, sizeof(table.bytes));
  if (!read(pending, table.bytes) || !hasBootSignature(table.bytes)) {
    KV_TRACE(8, "ExtendedChain::Next no table at sector %.0lf\n", (double)pending);
    ended = NO_TABLE;
    return false;
  }
  visited.insert(pending);
  table.sector = pending;
  table.index = passed++;
  table.linkSlot = LinkSlot(table.bytes);
  if (!table.hasLink()) {
    table.next = 0;
    ended = LAST_TABLE;
    return true;
  }
  FXulong base = linksFromEachTable ? table.sector : linkBase;
  table.next = base + table.slot(table.linkSlot).dist;
  pending = table.next;
  return true;
}

ExtendedChain::SectorReader ExtendedChain::ReadFrom(const FXString& device) {
  return [device](FXulong sector, FXuchar* bytes) {
    return IOSystem::ReadBR(device, bytes, sector * SECTOR_SIZE, SECTOR_SIZE);
  };
}

ExtendedChain::SectorReader ExtendedChain::ReadWith(::SectorReader& reader) {
  return [&reader](FXulong sector, FXuchar* bytes) { return reader.read(sector, bytes, SECTOR_SIZE); };
}
