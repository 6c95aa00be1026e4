// The analyser: start-up options, disk enumeration and the queries.
#include "Analyse.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include "FileSystem.h"
#include "Helper.h"
#include "IOSystem.h"
#include "compat/Assert.h"
#include "table/PartitionTable.h"

Analyse* sharedAnalyser = nullptr;

// Only the options the program acts on are listed; the old ones it still
// accepts (-backup, -restore, -show, -blank, -quick, -mbr) do nothing.
static const char USAGE[] =
    "Usage: kelvarin [-file IMAGE [-chs C/H/S]] [-sim] [-usebackup] [-lang CODE]\n"
    "                [-tracelevel LEVEL 2> debug.txt] [-h]\n"
    "\n"
    "-file IMAGE    work on a disk image (a file or a block device), not on the machine's disks\n"
    "-chs C/H/S     the image's geometry; without it, 255 heads and 63 sectors per track\n"
    "-sim           simulation: go through everything, write nothing\n"
    "-usebackup     work on the disk stored in layout.bin\n"
    "-lang CODE     the language of the texts (EN, DE, RU)\n"
    "-tracelevel N  trace what the program does\n"
    "-h             this text\n";

static FXString numberText(FXulong n) {
  FXString text;
  text.format("%llu", (unsigned long long)n);
  return text;
}

static FXString geometryText(const CHS& g) {
  FXString text;
  text.format("%llu/%d/%d", (unsigned long long)g.cylinders, g.heads, g.sectors);
  return text;
}

Analyse::Analyse()
    : stopSearch(false), langGiven(false), helpWanted(false), vC(-1), vH(-1), vS(-1) {
  KV_TRACE(7, "Analyse::Analyse() constructor\n");
  IOSystem::AttachDisks(&disks);
  IOSystem::useBackup = false;
  IOSystem::simulationMode = false;
  ScanNRDStump();
}

Analyse::Analyse(FXint argc, FXchar** argv)
    : stopSearch(false), langGiven(false), helpWanted(false), vC(-1), vH(-1), vS(-1) {
  KV_TRACE(7, "Analyse::Analyse( FXint, FXchar** ) constructor\n");
  IOSystem::AttachDisks(&disks);
  CheckOptions(argc, argv);
  // A wrong option must not turn into work on other disks than those meant.
  if (helpWanted || startMessage.problem()) return;
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
  IOSystem::DetachDisks(&disks);
}

const FXchar* Analyse::UsageText() { return USAGE; }

void Analyse::Tell(StartMessage::Kind kind, const FXchar* key, const FXString& a1,
                   const FXString& a2, const FXString& a3, const FXString& a4) {
  if (startMessage.problem()) return;  // the first problem is the one to report
  KV_TRACE(6, "Analyse::Tell( %s %s )\n", key, a1.text());
  startMessage.kind = kind;
  startMessage.key = key;
  const FXString args[4] = {a1, a2, a3, a4};
  for (int i = 0; i < 4; i++) startMessage.args[i] = args[i];
}

FXString Analyse::StartMessageText() {
  const StartMessage& m = startMessage;
  if (!m.key) return FXString::null;
  return Format(m.key, m.args[0].text(), m.args[1].text(), m.args[2].text(), m.args[3].text());
}

bool Analyse::ParseGeometry(const FXString& text, FXint& c, FXint& h, FXint& s) {
  FXint cc, hh, ss;
  if (text.contains('/') != 2 || !ParseInt(text.section('/', 0), cc) ||
      !ParseInt(text.section('/', 1), hh) || !ParseInt(text.section('/', 2), ss))
    return false;
  if (cc < 1 || hh < 1 || hh > 256 || ss < 1 || ss > 63) return false;
  c = cc;
  h = hh;
  s = ss;
  return true;
}

void Analyse::CheckOptions(FXint argc, FXchar** argv) {
  KV_TRACE(6, "Analyse::CheckOptions( argc = %d )\n", argc);
  FXString imagePath, geometry;
  bool fileGiven = false, geometryGiven = false;

  for (FXint i = 0; i < argc; i++) {
    FXString word = argv[i];
    KV_TRACE(6, "Analyse::CheckOptions( argv[%d] = \"%s\" )\n", i, word.text());
    if (word == "-h") {
      helpWanted = true;
      return;  // what follows is not looked at
    }
    if (word == "-file" || word == "-chs" || word == "-lang") {
      // The next word is the value, whatever it looks like: a value that is
      // missing or empty is an error, never a reason to ignore the option.
      FXString value = i + 1 < argc ? argv[++i] : "";
      if (value.empty()) {
        Tell(StartMessage::BAD_OPTION, "Analyse.CheckOptions.001", word);
      } else if (word == "-file") {
        imagePath = value;
        fileGiven = true;
        KV_TRACE(6, "Analyse::CheckOptions got path %s\n", imagePath.text());
      } else if (word == "-chs") {
        geometry = value;
        geometryGiven = true;
      } else {
        ChooseLanguage(value);
        KV_TRACE(6, "Analyse::CheckOptions got language %s\n", value.text());
        langGiven = true;
      }
    } else if (word == "-sim") {
      IOSystem::simulationMode = true;
      KV_TRACE(6, "Doing simulation only (no write operations)\n");
    } else if (word == "-usebackup") {
      IOSystem::useBackup = true;
      KV_TRACE(6, "Using backup file\n");
    }
  }

  FXint c = -1, h = -1, s = -1;
  if (geometryGiven && !ParseGeometry(geometry, c, h, s))
    Tell(StartMessage::BAD_OPTION, "Analyse.CheckOptions.002", geometry);
  KV_TRACE(6, "Analyse::CheckOptions got CHS %d/%d/%d\n", c, h, s);
  if (fileGiven) {
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

// Reads sector 0 and the extended chain of a disk just added, and its GUID
// partition table if it carries one.
void Analyse::ReadTables(NRD& disk) { PartitionTable::ReadAll(disk); }

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
  if (disks.empty()) Tell(StartMessage::NO_DISKS, "Analyse.ScanNRD.001");
}

void Analyse::ScanNRDPath() {
  KV_TRACE(7, "Analyse::ScanNRDPath()\n");
  FXulong sectors = ImageSectors();
  CHS geometry;
  if (sectors == 0 || !ImageGeometry(sectors, geometry)) return;
  FXString model = GetString("Analyse.ScanNRDPath.001");
  disks.push_back(NRD(path, model, geometry, geometry, sectors));
  ReadTables(disks.back());
  FindGaps((FXint)disks.size() - 1);
}

FXulong Analyse::ImageSectors() {
  DiskAccess& access = DiskAccess::current();
  DiskAccess::Handle h = access.open(path, false, false);
  if (h == DiskAccess::INVALID) {
    FXuint error = access.lastError();
    if (error == ENOTBLK)
      Tell(StartMessage::BAD_IMAGE, "Analyse.ScanNRDPath.004", path);
    else
      Tell(StartMessage::BAD_IMAGE, "Analyse.ScanNRDPath.003", path, strerror((int)error));
    return 0;
  }
  FXuint sectorSize = access.sectorSize(h);
  FXulong bytes = 0;
  bool sized = access.size(h, bytes);
  access.close(h);
  // Every structure this program reads and writes counts 512-byte sectors:
  // on a disk with larger ones it would write a partition at a multiple of
  // the right place.
  if (sectorSize != SECTOR_SIZE) {
    Tell(StartMessage::BAD_IMAGE, "Analyse.ScanNRDPath.005", path, numberText(sectorSize));
    return 0;
  }
  if (!sized || bytes < SECTOR_SIZE) {
    Tell(StartMessage::BAD_IMAGE, "Analyse.ScanNRDPath.006", path);
    return 0;
  }
  return bytes / SECTOR_SIZE;
}

bool Analyse::ImageGeometry(FXulong sectors, CHS& geometry) {
  if (vC == -1) {
    const FXulong perCylinder = (FXulong)CONVENTIONAL_HEADS * CONVENTIONAL_SECTORS;
    FXulong cylinders = FXMAX(sectors / perCylinder, (FXulong)1);
    vC = (FXint)FXMIN(cylinders, (FXulong)INT_MAX);
    vH = CONVENTIONAL_HEADS;
    vS = CONVENTIONAL_SECTORS;
    geometry = CHS((FXulong)vC, vH, vS);
    Tell(StartMessage::NOTE, "Analyse.ScanNRDPath.007", geometryText(geometry));
    return true;
  }
  geometry = CHS((FXulong)(FXlong)vC, vH, vS);
  // A geometry may round the image up to a whole cylinder, not more: a
  // larger one describes another disk, and partitions placed by it would
  // end beyond this one.
  const FXulong perCylinder = (FXulong)vH * vS;
  const FXulong described = geometry.cylinders * perCylinder;
  if (described > sectors + perCylinder) {
    Tell(StartMessage::BAD_OPTION, "Analyse.ScanNRDPath.002", geometryText(geometry),
         numberText(described), path, numberText(sectors));
    return false;
  }
  return true;
}

void Analyse::CalcNRDChecksums() {
  KV_TRACE(7, "Analyse::CalcNRDChecksums() - calculating drive checksums\n");
  for (NRD& d : disks) {
    KV_TRACE(8, "device %s %s\n", d.device.text(), d.model.text());
    d.partChksum = Information::CalcPartChksum(d.partitions);
  }
}

void Analyse::WriteNRDChecksums() {
  KV_TRACE(7, "Analyse::WriteNRDChecksums()\n");
  bool saved = IOSystem::disableWriteLog;
  IOSystem::disableWriteLog = true;
  for (NRD& d : disks) {
    KV_TRACE(8, "device %s %s\n", d.device.text(), d.model.text());
    IOSystem::CloseDB(d.device);
  }
  IOSystem::disableWriteLog = saved;
}

void Analyse::ReReadPartitions() {
  Analyse* a = sharedAnalyser ? sharedAnalyser : this;
  for (NRD& d : a->disks) {
    KV_TRACE(7, "Reading partition for %s %s\n", d.device.text(), d.model.text());
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

NRD* Analyse::FindNRD(const FXString& name) { return IOSystem::FindDisk(name); }
