// The analyser: start-up options, disk enumeration and the queries.
#include "Analyse.h"

#include <cstdio>
#include <cstdlib>

#include "FileSystem.h"
#include "IOSystem.h"
#include "compat/Assert.h"

Analyse* sharedAnalyser = nullptr;

static const char USAGE[] =
    "Usage: rodidud [-tracelevel level 2> debug.txt] [-chs C/H/S] [-sim]\n"
    "[-file name] [-lang langcode]\n"
    "[-backup dest_idx]\n"
    "[-restore src_idx]\n"
    "[-usebackup]\n"
    "[-show]\n"
    "[-blank drv_idx] [-quick] [-mbr]\n";

Analyse::Analyse() : stopSearch(false), langGiven(false), vC(-1), vH(-1), vS(-1) {
  KV_TRACE(7, "Analyse::Analyse() constructor\n");
  IOSystem::useBackup = false;
  IOSystem::simulationMode = false;
  ScanNRDStump();
}

Analyse::Analyse(FXApp* app, FXint argc, FXchar** argv)
    : stopSearch(false), langGiven(false), vC(-1), vH(-1), vS(-1) {
  KV_TRACE(7, "Analyse::Analyse( FXint, FXchar** ) constructor\n");
  CheckOptions(app, argc, argv);
  ScanNRDStump();
}

Analyse::~Analyse() {
  KV_TRACE(7, "Analyse::~Analyse() destructor\n");
  // A simulation leaves the file as it was, too.
  if (IOSystem::useBackup && !IOSystem::simulationMode && !disks.empty()) {
    NRD first = disks[0];
    WriteBackupFile(first);
  }
  if (sharedAnalyser == this) sharedAnalyser = nullptr;
}

// -h shows the usage and ends the program with status 1.  Without a display
// the text goes to stderr.
static void showUsageAndExit(FXApp* app) {
  if (app && app->getDisplay()) {
    FXMessageBox::information(app, MBOX_OK, "Info", "%s", USAGE);
  } else {
    fputs(USAGE, stderr);
  }
  exit(1);
}

void Analyse::CheckOptions(FXApp* app, FXint argc, FXchar** argv) {
  KV_TRACE(6, "Analyse::CheckOptions( argc = %d )\n", argc);
  FXString imagePath;
  FXint c = -1, h = -1, s = -1;
  bool wantFile = false, wantGeometry = false, wantLanguage = false;

  for (FXint i = 0; i < argc; i++) {
    const FXchar* arg = argv[i];
    KV_TRACE(6, "Analyse::CheckOptions( argv[%d] = \"%s\" )\n", i, arg);
    if (wantFile) {
      imagePath = arg;
      wantFile = false;
      KV_TRACE(6, "Analyse::CheckOptions got path %s\n", imagePath.text());
      continue;
    }
    if (wantGeometry) {
      sscanf(arg, "%d/%d/%d", &c, &h, &s);
      wantGeometry = false;
      KV_TRACE(6, "Analyse::CheckOptions got CHS %d/%d/%d\n", c, h, s);
      // The value is also compared with the option words below.
    }
    if (wantLanguage) {
      SetLanguage(app, arg);
      KV_TRACE(6, "Analyse::CheckOptions got language %s\n", arg);
      wantLanguage = false;
      langGiven = true;
      continue;
    }
    FXString word = arg;
    if (word == "-h") {
      showUsageAndExit(app);
    } else if (word == "-file") {
      wantFile = true;
    } else if (word == "-chs") {
      wantGeometry = true;
    } else if (word == "-lang") {
      wantLanguage = true;
    } else if (word == "-sim") {
      IOSystem::simulationMode = true;
      KV_TRACE(6, "Doing simulation only (no write operations)\n");
    } else if (word == "-usebackup") {
      IOSystem::useBackup = true;
      KV_TRACE(6, "Using backup file\n");
    }
  }

  if (!imagePath.empty() && c != -1) {
    KV_TRACE(6, "Analyse::CheckOptions setting virtual drive parameters\n");
    path = imagePath;
    vC = c;
    vH = h;
    vS = s;
  }
}

void Analyse::ScanNRDStump() {
  KV_TRACE(7, "Analyse::ScanNRDStump()\n");
  if (IOSystem::useBackup) {
    ScanNRDBackup();
  } else if (path.empty()) {
    ScanNRD();
  } else {
    ScanNRDPath();
  }
  CalcNRDChecksums();
}

// Reads sector 0 and the extended chain of a disk just added, and whether it
// carries a GUID partition table.
void Analyse::ReadTables(NRD& disk) {
  FXuchar BR[SECTOR_SIZE];
  IOSystem::ReadBR(disk.device, BR, 0, SECTOR_SIZE);
  GetPartitions(BR, disk.device, disk.partitions, disk.bootSectorOnly);
  disk.gpt = CarriesGPT(disk.device, disk.sectors);
}

void Analyse::ScanNRD() {
  KV_TRACE(7, "Analyse::ScanNRD()\n");
  DiskAccess& access = DiskAccess::current();
  for (const FXString& name : access.listDisks()) {
    KV_TRACE(8, "Analyse::ScanNRD testing device %s\n", name.text());
    DiskAccess::Handle h = access.open(name, false, false);
    if (h == DiskAccess::INVALID) continue;
    access.close(h);
    KV_TRACE(8, "Analyse::ScanNRD valid device found\n");

    FXString model;
    CHS physical, logical;
    FXulong sectors = 0;
    if (!IOSystem::GetModel(name, model, physical, logical, sectors)) {
      KV_TRACE(8, "Analyse::ScanNRD GetModel failed\n");
      continue;
    }
    disks.push_back(NRD(name, model, physical, logical, sectors));
    KV_TRACE(8, "Analyse::ScanNRD currDBsec=%.0lf\n", (double)disks.back().currDBsec);
    ReadTables(disks.back());
    FindGaps((FXint)disks.size() - 1);
  }
  AssignLetters();
}

void Analyse::ScanNRDPath() {
  KV_TRACE(7, "Analyse::ScanNRDPath()\n");
  FXulong sectors = IOSystem::CalculateSectorCnt(path);
  if (sectors == 0) {
    // A missing, unreadable or empty image, or a directory: nothing to show.
    fxwarning("Kelvarin: \"%s\" cannot be used as a disk image (missing, unreadable, empty or not a file).\n",
              path.text());
    return;
  }
  CHS geometry((FXulong)(FXlong)vC, vH, vS);
  FXString model = GetString("Analyse.ScanNRDPath.001");
  disks.push_back(NRD(path, model, geometry, geometry, sectors));
  ReadTables(disks.back());
  FindGaps((FXint)disks.size() - 1);
}

void Analyse::CalcNRDChecksums() {
  fxmessage("Analyse::CalcNRDChecksums() - calculating drive checksums\n");
  for (NRD& d : disks) {
    fxmessage("device %s %s\n", d.device.text(), d.model.text());
    d.partChksum = Information::CalcPartChksum(d.partitions);
  }
}

void Analyse::WriteNRDChecksums() {
  fxmessage("Analyse::WriteNRDChecksums()\n");
  bool saved = IOSystem::disableWriteLog;
  IOSystem::disableWriteLog = true;
  for (NRD& d : disks) {
    fxmessage("device %s %s\n", d.device.text(), d.model.text());
    IOSystem::CloseDB(d.device);
  }
  IOSystem::disableWriteLog = saved;
}

void Analyse::ReReadPartitions() {
  Analyse* a = sharedAnalyser ? sharedAnalyser : this;
  for (NRD& d : a->disks) {
    fxmessage("Reading partition for %s %s", d.device.text(), d.model.text());
    d.partitions.clear();
    FXuchar BR[SECTOR_SIZE];
    IOSystem::ReadBR(d.device, BR, 0, SECTOR_SIZE);
    bool wholeDiskFat = false;
    a->GetPartitions(BR, d.device, d.partitions, wholeDiskFat);
  }
}

std::vector<Partition> Analyse::GetPartitions(FXint disk) {
  KV_TRACE(7, "Analyse::GetPartitions( device=%d )\n", disk);
  FXASSERT(disk >= 0 && disk < (FXint)disks.size());
  KV_TRACE(8, "Analyse::GetPartitions returning %u partitions\n",
           (FXuint)disks[disk].partitions.size());
  return disks[disk].partitions;
}

FXulong Analyse::GetCapacity(FXint disk) {
  KV_TRACE(7, "Analyse::GetCapacity( device=%d )\n", disk);
  FXASSERT(disk >= 0 && disk < (FXint)disks.size());
  KV_TRACE(8, "Analyse::GetCapacity returning %.0lf\n", (double)disks[disk].capacity);
  return disks[disk].capacity;
}

std::vector<FXString> Analyse::GetDeviceNames(bool models) {
  std::vector<FXString> names;
  for (const NRD& d : disks) names.push_back(models ? d.model : d.device);
  return names;
}

static bool isPrimaryVolume(const Partition& p) { return p.l == 1 && !p.isExtended(); }

std::vector<FXulong> Analyse::GetPrimaryStarts(FXint disk) {
  std::vector<FXulong> starts;
  for (const Partition& p : disks[disk].partitions)
    if (isPrimaryVolume(p)) starts.push_back(p.entry.dist);
  return starts;
}

std::vector<FXString> Analyse::GetPrimaryNames(FXint disk) {
  std::vector<FXString> names;
  for (const Partition& p : disks[disk].partitions) {
    if (!isPrimaryVolume(p)) continue;
    const FXchar* name = PartitionTypeName(p.entry.type);
    bool lettered = (signed char)p.letter >= 'A';
    FXString text;
    text.format("%s %c%c", name ? name : "", lettered ? p.letter : ' ', lettered ? ':' : ' ');
    names.push_back(text);
  }
  return names;
}

NRD* Analyse::FindNRD(const FXString& name) {
  if (!sharedAnalyser) return nullptr;
  for (NRD& d : sharedAnalyser->disks)
    if (d.device == name) return &d;
  return nullptr;
}
