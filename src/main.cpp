// Kelvarin: finds partitions lost from a disk's partition table and writes
// them back.
#include "StartWindow.h"
#include "Startup.h"

int main(int argc, char** argv) { return RunApplication(argc, argv, mFXStartWindow::Make); }
