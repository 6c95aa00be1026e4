// Disks with a GUID partition table, made by sgdisk with real file systems:
// read as GPT, damage reported and repaired, volumes recovered into a new
// GPT, every change undone byte for byte, and hostile tables refused
// without a write.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <fstream>
#include <functional>

#include "support/Engine.h"
#include "support/LostDisk.h"
#include "support/TestImages.h"

using namespace kvtest;

namespace {

const unsigned long long SECTORS = 131072;  // 64 MiB
const char* const GEOMETRY = "8/255/63";

// The volumes sgdisk places, with file systems a search recognises, and an
// empty swap partition behind them.
struct GptVolume {
  unsigned long long start, sectors;
  const char* code;  // sgdisk's type code
  const char* mkfs;
  const char* typeGuid;
  const char* blkidType;
  bool bootRecord;  // the search looks for volumes that start with one
};
const GptVolume VOLUMES[] = {
    {2048, 32768, "8300", "mkfs.ext4 -q -F", "0FC63DAF-8483-4772-8E79-3D69D8477DE4", "ext4", false},
    {34816, 32768, "0700", "mkfs.vfat -F 16", "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "vfat", true},
    {67584, 16384, "0700", "mkfs.ntfs -q -F -Q -s 512 -p 67584 -H 255 -S 63",
     "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "ntfs", true},
};
const char* const SWAP_PARTITION = " -n 4:83968:92159 -t 4:8200";

std::string disk(const std::string& image) { return "-file " + quote(image) + " -chs " + GEOMETRY; }

// A GPT disk with the three volumes; `table` adds sgdisk options (an entry
// array of another size).
bool makeGptDisk(const std::string& image, const std::string& table = "") {
  makeImage(image, SECTORS * 512);
  std::string command = "sgdisk " + table;
  for (size_t i = 0; i < 3; i++) {
    const GptVolume& v = VOLUMES[i];
    std::string n = std::to_string(i + 1);
    command += " -n " + n + ":" + std::to_string(v.start) + ":" +
               std::to_string(v.start + v.sectors - 1) + " -t " + n + ":" + v.code + " -c " + n +
               ":vol" + n;
  }
  if (sh(command + SWAP_PARTITION + " " + quote(image) + " >/dev/null") != 0) return false;
  for (const GptVolume& v : VOLUMES)
    if (!mkfsAt(image, v.start, v.sectors, v.mkfs)) return false;
  return true;
}

std::string sector(const std::string& bytes, unsigned long long s) {
  return bytes.substr(s * 512, 512);
}

void zeroSectors(const std::string& image, unsigned long long first, unsigned long long count) {
  std::string zeros(count * 512, '\0');
  patchFile(image, first * 512, zeros.data(), zeros.size());
}

// The sectors a GPT with `arraySectors` of entries uses: both headers and
// both arrays (not the protective MBR).
std::string gptSectors(const std::string& bytes, unsigned long long arraySectors) {
  return bytes.substr(512, (1 + arraySectors) * 512) +
         bytes.substr((SECTORS - 1 - arraySectors) * 512);
}

bool sgdiskClean(const std::string& image, std::string* out) {
  sh("sgdisk -v " + quote(image) + " 2>&1", out);
  return out->find("No problems found") != std::string::npos;
}

// Runs a python snippet over files; what it prints.
std::string python(const std::string& code, const std::vector<std::string>& files) {
  std::string command = "python3 -c " + quote(code);
  for (const std::string& f : files) command += " " + quote(f);
  std::string out;
  sh(command, &out);
  return out;
}

// "start size TYPE uuid name" per partition, as sfdisk -d reads the table
// and as list --json shows it.
const char* const SFDISK_ROWS =
    "import re,sys\n"
    "for l in open(sys.argv[1]):\n"
    "  l=l.strip()\n"
    "  if 'start=' not in l: continue\n"
    "  f=dict(re.findall(r'(\\w+)=\\s*(\"[^\"]*\"|[^,]+)',l))\n"
    "  print(f['start'],f['size'],f['type'],f['uuid'],f.get('name','\"\"').strip('\"'))\n";
const char* const LIST_ROWS =
    "import json,sys\n"
    "d=json.load(open(sys.argv[1]))['disks'][0]\n"
    "for e in d['gptTable']['entries']: print(e['start'],e['sectors'],e['typeGuid'],e['guid'],e['name'])\n";

std::string listRows(const std::string& image, TempDir& dir) {
  CliResult list = runCli(disk(image) + " list --json");
  std::string file = dir.path("list.json");
  std::ofstream(file) << list.out;
  return python(LIST_ROWS, {file});
}

std::string sfdiskRows(const std::string& image, TempDir& dir) {
  std::string file = dir.path("sfdisk.txt");
  sh("sfdisk -d " + quote(image) + " > " + quote(file) + " 2>/dev/null");
  return python(SFDISK_ROWS, {file});
}

void putLe(std::string& s, size_t at, unsigned long long v, int bytes) {
  for (int i = 0; i < bytes; i++) s[at + i] = (char)(v >> (8 * i));
}

unsigned crc(const std::string& bytes) {
  return (unsigned)crc32(0, (const Bytef*)bytes.data(), (uInt)bytes.size());
}

// Writes a header sector again with a correct CRC.
void writeHeader(const std::string& image, unsigned long long at, std::string h) {
  putLe(h, 16, 0, 4);
  putLe(h, 16, crc(h.substr(0, 92)), 4);
  patchFile(image, at * 512, h.data(), 512);
}

class GptDisk : public ::testing::Test {
protected:
  void SetUp() override {
    for (const char* tool : {"sgdisk", "sfdisk", "blkid", "mkfs.ext4", "mkfs.vfat", "mkfs.ntfs"})
      if (!haveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    restore("");
  }
  // The disk as sgdisk and mkfs made it with the sgdisk options `table`,
  // made once.
  void restore(const std::string& table) {
    std::string made = dir.path("made" + std::to_string(std::hash<std::string>()(table)) + ".img");
    if (!std::ifstream(made)) {
      ASSERT_TRUE(makeGptDisk(made, table));
    }
    ASSERT_EQ(0, sh("cp --sparse=always " + quote(made) + " " + quote(image)));
  }
  TempDir dir;
  std::string image = dir.path("gpt.img");
};

}  // namespace

// list shows the table sfdisk reads, with type names, and the free space
// sgdisk counts; the gaps can be searched, and find nothing on a whole disk.
TEST_F(GptDisk, ListAgreesWithSgdiskAndSfdisk) {
  std::string rows = sfdiskRows(image, dir);
  ASSERT_EQ(4, std::count(rows.begin(), rows.end(), '\n')) << rows;
  EXPECT_EQ(rows, listRows(image, dir));

  CliResult list = runCli(disk(image) + " list");
  EXPECT_EQ(0, list.status) << list.err;
  EXPECT_NE(std::string::npos, list.out.find(englishText("kelvarin-cli.gpt.003"))) << list.out;
  for (const char* name : {"Linux filesystem", "Microsoft basic data", "Linux swap"})
    EXPECT_NE(std::string::npos, list.out.find(name)) << list.out;

  std::string sgdisk, json = dir.path("gaps.json");
  sh("sgdisk -p " + quote(image), &sgdisk);
  size_t at = sgdisk.find("Total free space is ");
  ASSERT_NE(std::string::npos, at) << sgdisk;
  unsigned long long sgdiskFree = std::stoull(sgdisk.substr(at + 20));
  sh(quote("./kelvarin-cli") + " " + disk(image) + " list --json > " + quote(json));
  std::string free = python(
      "import json,sys\nd=json.load(open(sys.argv[1]))['disks'][0]\n"
      "print(sum(g['sectors'] for g in d['gaps']), d['gaps'][0]['start'], d['label'])",
      {json});
  EXPECT_EQ(std::to_string(sgdiskFree) + " 34 gpt\n", free);

  CliResult search = runCli(disk(image) + " search --full");
  EXPECT_EQ(1, search.status) << "the gaps hold no lost volume\n" << search.out << search.err;
}

// One copy lost or broken, the other intact: list says which, repair writes
// it again byte for byte as sgdisk wrote it, and undo takes it back.
TEST_F(GptDisk, RepairWritesTheDamagedCopyFromTheIntactOne) {
  struct Case {
    const char* what;
    std::string table;  // sgdisk options
    unsigned long long arraySectors;
    bool primary;       // the primary is damaged
    bool headerOnly;    // only the header's CRC is broken
  };
  const Case cases[] = {
      {"primary header and entries zeroed", "", 32, true, false},
      {"backup header and entries zeroed", "", 32, false, false},
      {"primary header with a wrong CRC", "", 32, true, true},
      {"a 256-entry array, primary zeroed", "--resize-table=256", 64, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    restore(c.table);
    std::string made = readFile(image);
    unsigned long long header = c.primary ? 1 : SECTORS - 1;
    if (c.headerOnly) {
      std::string h = sector(made, header);
      h[20] ^= 0x5A;  // inside the stored CRC
      patchFile(image, header * 512, h.data(), 512);
    } else {
      zeroSectors(image, c.primary ? 1 : SECTORS - 1 - c.arraySectors, 1 + c.arraySectors);
    }
    std::string damaged = readFile(image), out;

    CliResult list = runCli(disk(image) + " list");
    EXPECT_EQ(0, list.status);
    const char* state = c.primary ? "GPT: primary damaged, backup intact" : "GPT: backup damaged, primary intact";
    EXPECT_NE(std::string::npos, list.out.find(state)) << list.out;

    if (&c == cases) {
      CliResult sim = runCli(disk(image) + " -sim repair --disk 1");
      EXPECT_EQ(0, sim.status) << sim.err;
      EXPECT_TRUE(damaged == readFile(image)) << "a simulation writes nothing";
    }

    CliResult repair = runCli(disk(image) + " repair --disk 1");
    EXPECT_EQ(0, repair.status) << repair.err;
    EXPECT_TRUE(sgdiskClean(image, &out)) << out;
    std::string repaired = readFile(image);
    EXPECT_TRUE(gptSectors(made, c.arraySectors) == gptSectors(repaired, c.arraySectors));
    EXPECT_TRUE(sector(made, 0) == sector(repaired, 0));

    CliResult undo = runCli(disk(image) + " undo --yes");
    EXPECT_EQ(0, undo.status) << undo.err;
    EXPECT_TRUE(damaged == readFile(image)) << "undo restores the damaged disk byte for byte";
  }
}

// A lost protective MBR is written again; sgdisk then finds the disk clean.
TEST_F(GptDisk, RepairWritesAMissingProtectiveMbr) {
  zeroSectors(image, 0, 1);
  std::string damaged = readFile(image), out;
  CliResult list = runCli(disk(image) + " list");
  char missing[256];
  snprintf(missing, sizeof(missing), englishText("kelvarin-cli.gpt.012").c_str(), 1);
  EXPECT_NE(std::string::npos, list.out.find(missing)) << list.out;
  CliResult repair = runCli(disk(image) + " repair --disk 1");
  EXPECT_EQ(0, repair.status) << repair.err;
  EXPECT_TRUE(sgdiskClean(image, &out)) << out;
  std::string rows = sfdiskRows(image, dir);
  EXPECT_EQ(4, std::count(rows.begin(), rows.end(), '\n')) << rows;
  EXPECT_EQ(0, runCli(disk(image) + " undo --yes").status);
  EXPECT_TRUE(damaged == readFile(image));
}

// Both copies and the protective MBR lost: the search finds every volume,
// recover --label gpt puts each back where it was with a type that fits its
// file system, and undo leaves the disk as it was before.
TEST_F(GptDisk, LostTableIsRebuiltAsGpt) {
  zeroSectors(image, 0, 34);
  zeroSectors(image, SECTORS - 33, 33);
  std::string lost = readFile(image), out;

  CliResult search = runCli(disk(image) + " search --full");
  ASSERT_EQ(0, search.status) << search.err;
  std::string picks;
  for (const GptVolume& v : VOLUMES) {
    if (v.bootRecord) {
      EXPECT_NE(std::string::npos, search.out.find("  " + std::to_string(v.start) + "  ")) << search.out;
    }
    picks += " --pick @" + std::to_string(v.start);
  }

  CliResult sim = runCli(disk(image) + " -sim recover --disk 1 --label gpt" + picks);
  EXPECT_EQ(0, sim.status) << sim.err;
  EXPECT_TRUE(lost == readFile(image));

  CliResult recover = runCli(disk(image) + " recover --disk 1 --label gpt" + picks);
  ASSERT_EQ(0, recover.status) << recover.err;
  EXPECT_TRUE(sgdiskClean(image, &out)) << out;
  std::string rows = sfdiskRows(image, dir);
  for (const GptVolume& v : VOLUMES) {
    std::string row = std::to_string(v.start) + " " + std::to_string(v.sectors) + " " + v.typeGuid;
    EXPECT_NE(std::string::npos, rows.find(row)) << row << "\n" << rows;
  }
  for (size_t i = 0; i < 3; i++)
    EXPECT_EQ(std::string(VOLUMES[i].blkidType) + "\n", typeThroughEntry(image, (int)i + 1, VOLUMES[i].start));

  CliResult undo = runCli(disk(image) + " undo --yes");
  EXPECT_EQ(0, undo.status) << undo.err;
  EXPECT_TRUE(lost == readFile(image)) << "undo restores the disk byte for byte";
}

// A partition deleted from a GPT disk: the search finds it in the gap it
// left, recover writes it back as a new entry of both copies, and undo
// takes it back byte for byte.
TEST_F(GptDisk, ADeletedPartitionGoesBackIntoTheGpt) {
  const GptVolume& fat = VOLUMES[1];
  ASSERT_EQ(0, sh("sgdisk -d 2 " + quote(image) + " >/dev/null"));
  std::string lost = readFile(image), out;
  CliResult search = runCli(disk(image) + " search --full");
  ASSERT_EQ(0, search.status) << search.err;
  EXPECT_NE(std::string::npos, search.out.find("  " + std::to_string(fat.start) + "  ")) << search.out;

  CliResult recover = runCli(disk(image) + " recover --disk 1 --full --pick 1");
  ASSERT_EQ(0, recover.status) << recover.err;
  EXPECT_TRUE(sgdiskClean(image, &out)) << out;
  std::string rows = sfdiskRows(image, dir);
  EXPECT_EQ(4, std::count(rows.begin(), rows.end(), '\n')) << rows;
  std::string row = std::to_string(fat.start) + " " + std::to_string(fat.sectors) + " " + fat.typeGuid;
  EXPECT_NE(std::string::npos, rows.find(row)) << rows;
  EXPECT_EQ("vfat\n", typeThroughEntry(image, 2, fat.start));

  EXPECT_EQ(0, runCli(disk(image) + " undo --yes").status);
  EXPECT_TRUE(lost == readFile(image)) << "undo restores the disk byte for byte";
}

// More volumes than a default array holds: the new table gets a larger one.
TEST_F(GptDisk, MoreVolumesThanADefaultArrayHolds) {
  const int COUNT = 130;
  std::string fat = dir.path("small.img");
  makeImage(image, SECTORS * 512);
  ASSERT_EQ(0, sh("mkfs.vfat -C " + quote(fat) + " 64 >/dev/null"));
  std::string volume = readFile(fat), picks;
  for (int i = 0; i < COUNT; i++) {
    unsigned long long start = 2048 + 256ULL * i;
    patchFile(image, start * 512, volume.data(), volume.size());
    picks += " --pick @" + std::to_string(start);
  }
  std::string out;
  // Unlogged: the log of 130 entries in both arrays costs thousands of writes.
  CliResult recover = runCli(disk(image) + " recover --disk 1 --label gpt --no-undo" + picks);
  ASSERT_EQ(0, recover.status) << recover.err;
  EXPECT_TRUE(sgdiskClean(image, &out)) << out;
  std::string rows = sfdiskRows(image, dir);
  EXPECT_EQ(COUNT, std::count(rows.begin(), rows.end(), '\n')) << rows;
  EXPECT_NE(std::string::npos, rows.find("2048 128 EBD0A0A2-B9E5-4433-87C0-68B6B72699C7")) << rows;
}

// With no room for the undo log (the first partition right behind the
// array), the user is told before anything is written.
TEST_F(GptDisk, NoRoomForTheUndoLogIsToldBeforeWriting) {
  makeImage(image, SECTORS * 512);
  ASSERT_EQ(0, sh("sgdisk -a 1 -n 1:34:+8M " + quote(image) + " >/dev/null"));
  zeroSectors(image, SECTORS - 33, 33);
  std::string damaged = readFile(image), out;
  CliResult repair = runCli(disk(image) + " repair --disk 1");
  EXPECT_EQ(1, repair.status);
  char told[512];
  snprintf(told, sizeof(told), englishText("kelvarin-cli.gpt.014").c_str(), 1);
  EXPECT_NE(std::string::npos, repair.err.find(told)) << repair.err;
  EXPECT_TRUE(damaged == readFile(image));
  EXPECT_EQ(0, runCli(disk(image) + " repair --disk 1 --no-undo").status);
  EXPECT_TRUE(sgdiskClean(image, &out)) << out;
}

// Tables whose CRCs hold but whose numbers do not fit the disk: a clear
// message, and nothing written by repair or recover.
TEST_F(GptDisk, HostileTablesAreRefusedWithoutAWrite) {
  struct Case {
    const char* what;
    size_t field;  // byte offset in the header, or 0 for one in the entry arrays
    size_t entryField;
    unsigned long long value;
    int width;
    const char* problem;
  };
  const Case cases[] = {
      {"entry count overflowing", 80, 0, 0xFFFFFFFFULL, 4, "Gpt.problem.001"},
      {"entry size overflowing", 84, 0, 0x80000000ULL, 4, "Gpt.problem.001"},
      {"last usable sector beyond the disk", 48, 0, SECTORS + 100, 8, "Gpt.problem.002"},
      {"entry array beyond the disk", 72, 0, SECTORS - 2, 8, "Gpt.problem.003"},
      {"a partition ending beyond the disk", 0, 40, SECTORS + 5, 8, "Gpt.problem.004"},
      {"the second partition starting inside the first", 0, 128 + 32, 30000, 8, "Gpt.problem.005"},
  };
  std::string made = dir.path("made.img");
  ASSERT_EQ(0, sh("cp --sparse=always " + quote(image) + " " + quote(made)));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(0, sh("cp --sparse=always " + quote(made) + " " + quote(image)));
    std::string bytes = readFile(image);
    for (unsigned long long at : {1ULL, SECTORS - 1}) {
      std::string h = sector(bytes, at);
      if (c.field) {
        putLe(h, c.field, c.value, c.width);
      } else {
        // The same entry changed in both arrays.
        unsigned long long array = at == 1 ? 2 : SECTORS - 33;
        std::string entries = bytes.substr(array * 512, 32 * 512);
        putLe(entries, c.entryField, c.value, c.width);
        patchFile(image, array * 512, entries.data(), entries.size());
        putLe(h, 88, crc(entries), 4);
      }
      writeHeader(image, at, h);
    }
    std::string hostile = readFile(image);

    CliResult list = runCli(disk(image) + " list");
    EXPECT_EQ(0, list.status);
    EXPECT_NE(std::string::npos, list.out.find(englishText(c.problem))) << list.out;
    for (const char* command : {" repair --disk 1", " recover --disk 1 --pick @2048",
                                " -sim recover --disk 1 --pick @2048"}) {
      CliResult r = runCli(disk(image) + command);
      EXPECT_EQ(1, r.status) << command << r.err;
      EXPECT_NE(std::string::npos, r.err.find(englishText(c.problem))) << command << r.err;
    }
    EXPECT_TRUE(hostile == readFile(image));
  }
}

// A blank 2.1 TiB disk with an NTFS volume beyond 2^32 sectors: an MBR
// cannot hold it and the refusal says a GPT can; --label gpt writes it into
// a new GPT that sgdisk finds clean.
TEST_F(GptDisk, AVolumeBeyond2TiBGoesOnlyIntoAGpt) {
  const unsigned long long sectors = 2100ull << 21, found = (1ull << 32) + 4096;
  std::string big = dir.path("big.img");
  makeImage(big, sectors * 512);
  kvtest::writeNtfsStart(big, found, 2047);
  const std::string on = "-file " + quote(big) + " -chs " + std::to_string(sectors / 16065) + "/255/63";
  std::string out;

  CliResult mbr = runCli(on + " recover --disk 1 --label mbr --pick @" + std::to_string(found));
  EXPECT_EQ(1, mbr.status);
  EXPECT_NE(std::string::npos, mbr.err.find("Only a GUID partition table (GPT) can hold it")) << mbr.err;
  EXPECT_TRUE(readSector(big, 0) == std::string(512, '\0'));

  CliResult gpt = runCli(on + " recover --disk 1 --pick @" + std::to_string(found));
  ASSERT_EQ(0, gpt.status) << "a disk beyond 2 TiB gets a GPT by default\n" << gpt.err;
  EXPECT_TRUE(sgdiskClean(big, &out)) << out;
  std::string rows = sfdiskRows(big, dir);
  EXPECT_NE(std::string::npos, rows.find(std::to_string(found) + " 2048 EBD0A0A2")) << rows;
}

// A FAT volume picked with :esp becomes the EFI system partition, in a GPT
// as in an MBR; the type sgdisk and sfdisk read back says so.
TEST_F(GptDisk, TheEspMarkMakesAFatVolumeTheEfiSystemPartition) {
  const GptVolume& fat = VOLUMES[1];
  ASSERT_EQ(0, sh("sgdisk -d 2 " + quote(image) + " >/dev/null"));
  CliResult gpt = runCli(disk(image) + " recover --disk 1 --pick @" + std::to_string(fat.start) + ":esp");
  ASSERT_EQ(0, gpt.status) << gpt.err;
  std::string info, out;
  sh("sgdisk -i 2 " + quote(image), &info);
  EXPECT_NE(std::string::npos, info.find("C12A7328-F81F-11D2-BA4B-00A0C93EC93B")) << info;
  EXPECT_NE(std::string::npos, info.find("First sector: " + std::to_string(fat.start) + " ")) << info;
  EXPECT_TRUE(sgdiskClean(image, &out)) << out;

  LostDisk lost;
  ASSERT_TRUE(makeLostFatDisk(dir.path("mbr.img"), 10, lost));
  unsigned long long start = lost.partitions[0].start;
  CliResult mbr = runCli("-file " + quote(lost.image) + " -chs " + lost.chs +
                         " recover --disk 1 --pick @" + std::to_string(start) + ":esp");
  ASSERT_EQ(0, mbr.status) << mbr.err;
  std::vector<SfdiskPartition> table = sfdiskDump(lost.image);
  ASSERT_EQ(1u, table.size());
  EXPECT_EQ(start, table[0].start);
  EXPECT_EQ(0xEFu, table[0].type);
}

// What a GPT cannot take is a usage error, and nothing is written: an
// active partition and boot code (a GPT has neither), and the EFI system
// mark on a volume that is not FAT.
TEST_F(GptDisk, WhatAGptCannotTakeIsAUsageErrorAndWritesNothing) {
  ASSERT_EQ(0, sh("sgdisk -d 1 -d 2 " + quote(image) + " >/dev/null"));
  const std::string fat = std::to_string(VOLUMES[1].start), ext4 = std::to_string(VOLUMES[0].start);
  struct Case {
    std::string options;
    std::string told;
  };
  const Case cases[] = {
      {"--pick @" + fat + " --active " + fat,
       FXStringFormat(englishText("kelvarin-cli.recover.024").c_str(), "--active", "--active").text()},
      {"--pick @" + fat + " --boot-code",
       FXStringFormat(englishText("kelvarin-cli.recover.024").c_str(), "--boot-code", "--boot-code").text()},
      {"--pick @" + ext4 + ":esp",
       FXStringFormat(englishText("kelvarin-cli.recover.023").c_str(), ext4.c_str()).text()},
  };
  std::string before = readFile(image);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    CliResult r = runCli(disk(image) + " recover --disk 1 " + c.options);
    EXPECT_EQ(2, r.status) << r.err;
    EXPECT_NE(std::string::npos, r.err.find(c.told)) << r.err;
    EXPECT_TRUE(before == readFile(image));
  }
}
