#include "Records.h"

#include "compat/Assert.h"

PartitionEntry PartitionEntry::fromBytes(const FXuchar* b) {
  PartitionEntry e;
  e.boot = b[0];
  for (int i = 0; i < 3; i++) e.start_chs[i] = b[1 + i];
  e.type = b[4];
  for (int i = 0; i < 3; i++) e.end_chs[i] = b[5 + i];
  e.dist = le32(b + 8);
  e.num = le32(b + 12);
  return e;
}

void PartitionEntry::toBytes(FXuchar* b) const {
  b[0] = boot;
  for (int i = 0; i < 3; i++) b[1 + i] = start_chs[i];
  b[4] = type;
  for (int i = 0; i < 3; i++) b[5 + i] = end_chs[i];
  putLe32(b + 8, dist);
  putLe32(b + 12, num);
}

bool isExtendedType(FXuchar type) { return type == 0x05 || type == 0x0F || type == 0x85; }

Partition::Partition(const void* pr, FXint l, FXint lognr)
    : Partition(PartitionEntry::fromBytes((const FXuchar*)pr), l, lognr) {}

Partition::Partition(const PartitionEntry& e, FXint l, FXint lognr)
    : entry(e), letter(0), lognr(lognr), base(0), l(l) {
  KV_TRACE(7, "Partition::Partition( pr->type=%x l=%d log.nr=%d )\n", entry.type, l, lognr);
}

Gap::Gap(FXulong distance, FXulong size, FXint behind)
    : distance(distance), size(size), behind(behind) {
  KV_TRACE(7, "Gap::Gap( distance=%.0lf size=%.0lf behind %d )\n", (double)distance, (double)size,
           behind);
}

NRD::NRD()
    : sectors(0), capacity(0), qoffset(0), bootSectorOnly(false), partChksum(0), currDBsec(0),
      dbOffset(0), dbActive(false), dbStartSec(0) {
  KV_TRACE(7, "NRD::NRD()\n");
  ResetDBCursor();
}

NRD::NRD(const FXString& device, const FXString& model, const CHS& physical, const CHS& logical,
         FXulong sectors)
    : device(device), model(model), physical(physical), logical(logical), sectors(sectors),
      capacity(0), qoffset(0), bootSectorOnly(false), partChksum(0), currDBsec(0), dbOffset(0),
      dbActive(false), dbStartSec(0) {
  KV_TRACE(7, "NRD::NRD( sectors=%.0lf )\n", (double)sectors);
  ResetDBCursor();
  // The product is taken in 32 bits, as the undo database and the search expect.
  qoffset = (FXulong)(FXuint)((FXuint)logical.heads * (FXuint)logical.sectors);
  KV_TRACE(8, "NRD::NRD qoffset calculated %.0lf\n", (double)qoffset);
  capacity = sectors * (FXulong)SECTOR_SIZE;
  KV_TRACE(8, "NRD::NRD calculated capacity is %.0lf\n", (double)capacity);
}

void NRD::ResetDBCursor() {
  partChksum = 0;
  currDBsec = 0;
  dbOffset = 0;
  dbStartSec = 0;
  dbActive = false;
  KV_TRACE(7, "NRD::NRD currDBsec=%.0lf\n", (double)currDBsec);
}

void NRD::Dump() const {
  KV_TRACE(7, "device: %s\n", device.text());
  KV_TRACE(7, "model: %s\n", model.text());
  KV_TRACE(7, "logical: C/H/S: %.0lf/%d/%d   physical: C/H/S: %.0lf/%d/%d\n",
           (double)logical.cylinders, logical.heads, logical.sectors, (double)physical.cylinders,
           physical.heads, physical.sectors);
  KV_TRACE(7, "sectors: %.0lf\n", (double)sectors);
  KV_TRACE(7, "capacity: %.0lf\n", (double)capacity);
}

FXStream& operator<<(FXStream& store, const NRD& d) {
  store << d.device << d.model;
  store << (FXulong)d.physical.cylinders << (FXint)d.physical.heads << (FXint)d.physical.sectors;
  store << (FXulong)d.logical.cylinders << (FXint)d.logical.heads << (FXint)d.logical.sectors;
  store << (FXulong)d.sectors << (FXulong)d.capacity << (FXulong)d.qoffset;
  return store;
}

FXStream& operator>>(FXStream& store, NRD& d) {
  store >> d.device >> d.model;
  store >> d.physical.cylinders >> d.physical.heads >> d.physical.sectors;
  store >> d.logical.cylinders >> d.logical.heads >> d.logical.sectors;
  store >> d.sectors >> d.capacity >> d.qoffset;
  return store;
}
