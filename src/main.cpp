// Kelvarin: finds partitions lost from a disk's partition table and writes
// them back.
#include "Kelvarin.h"

int main(int argc, char** argv) { return RunKelvarin(argc, argv); }
