// Kelvarin: finds partitions lost from a disk's partition table and writes
// them back.  Until the wizard stands, the program lists what the analyser
// sees.
#include <fx.h>

#include "Analyse.h"
#include "FileSystem.h"
#include "Information.h"

int main(int argc, char** argv) {
  Information::ReadConfigParams();
  Information::ReadTranslations();
  FXApp app("Kelvarin", "Varnholm Inc");
  app.init(argc, argv, false);
  Analyse* analyser = new Analyse(&app, argc, argv);
  sharedAnalyser = analyser;
  for (size_t i = 0; i < analyser->disks.size(); i++) {
    const NRD& d = analyser->disks[i];
    fxmessage("disk %u: %s (%s) %.0lf sectors, C/H/S %.0lf/%d/%d\n", (unsigned)i + 1,
              d.device.text(), d.model.text(), (double)d.sectors, (double)d.logical.cylinders,
              d.logical.heads, d.logical.sectors);
    for (const Partition& p : d.partitions) {
      const FXchar* name = PartitionTypeName(p.entry.type);
      fxmessage("  level %d  type %02x %-24s start %.0lf size %.0lf\n", p.l, p.entry.type,
                name ? name : "", (double)p.start(), (double)p.entry.num);
    }
    for (const Gap& g : d.gaps)
      fxmessage("  free  start %.0lf size %.0lf\n", (double)g.distance, (double)g.size);
  }
  delete analyser;
  return 0;
}
