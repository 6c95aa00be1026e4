// Kelvarin: finds partitions lost from a disk's partition table and writes
// them back.
#include "Installation.h"
#include "Kelvarin.h"

int main(int argc, char** argv) {
  if (Installation::AsksForVersion(argc, argv)) {
    Installation::PrintVersion("kelvarin");
    return 0;
  }
  Installation::UseProgramData(argv[0]);
  return RunKelvarin(argc, argv);
}
