// The recovery fit check: does every disk's MBR have a slot for each chosen
// partition that must become a primary entry, can table entries hold them
// at all, and does every disk's sector 0 start with boot code.
#include "Analyse.h"
#include "IOSystem.h"
#include "compat/Assert.h"

bool Analyse::CheckMBRFit(const std::vector<RecoverPart>& rp) {
  KV_TRACE(7, "Analyse::CheckMBRFit RecoverPart initial size %u\n", (FXuint)rp.size());
  for (const NRD& d : disks) {
    FXint realprim = 0, recoverprim = 0;
    SectorRange extended;  // the MBR's extended partition; empty when it has none
    for (const Partition& p : d.partitions) {
      bool primaryExtended = p.l == 1 && p.isExtended();
      if (p.base == 0 && !primaryExtended) realprim++;
      if (primaryExtended) extended = p.range();
    }
    KV_TRACE(8, "Analyse::CheckMBRFit ext_start = %.0lf, ext_end = %.0lf\n", (double)extended.first,
             (double)extended.end);
    for (const RecoverPart& r : rp) {
      KV_TRACE(8, "Analyse::CheckMBRFit rp[j].start = %.0lf\n", (double)r.sector);
      // A chosen partition inside the extended partition goes into its chain.
      if (r.device == d.device && !r.logical && !extended.contains(r.sector)) recoverprim++;
    }
    KV_TRACE(8, "Analyse::CheckMBRFit device = %s realprim = %d, recoverprim = %d\n",
             d.device.text(), realprim, recoverprim);
    if (recoverprim != 0 && realprim + recoverprim > 4) return false;
  }
  return true;
}

bool Analyse::CheckTableReach(const std::vector<RecoverPart>& rp, FXString& reason) {
  for (const RecoverPart& r : rp) {
    if (r.withinTableReach()) continue;
    KV_TRACE(8, "Analyse::CheckTableReach partition at %.0lf is beyond a table's reach\n",
             (double)r.first);
    reason = Format("Kelvarin.onCmd_Next.010", (double)r.first,
                    (double)(r.first + r.size / SECTOR_SIZE));
    return false;
  }
  return true;
}

bool Analyse::CheckMBRCode() {
  for (const NRD& d : disks) {
    FXuchar sector[SECTOR_SIZE] = {0};
    // A failed read leaves zeros: no boot code.
    if (!IOSystem::ReadBR(d.device, sector, 0, SECTOR_SIZE)) sector[0] = 0;
    if (!startsWithBootCode(sector)) return false;
  }
  return true;
}
