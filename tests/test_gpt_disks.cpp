// Disks with a GUID partition table, made by sgdisk: however much of it is
// left (protective MBR, primary header, backup header), the disk is shown as
// a GPT disk, offers no free space and is never written, and sgdisk finds it
// as it was.
#include <gtest/gtest.h>

#include <cstring>

#include "IOSystem.h"
#include "Recover.h"
#include "support/CountingDisk.h"
#include "support/Engine.h"
#include "support/LostDisk.h"
#include "support/TestImages.h"

using namespace kvtest;

namespace {

const unsigned long long SECTORS = 32768;  // 16 MiB
const char* const GEOMETRY = "2/255/63";
const unsigned long long VOLUME_START = 2048, VOLUME_SECTORS = 20480;

// A GPT disk with one FAT16 partition at sector 2048, as sgdisk and mkfs
// make them.
bool makeGptDisk(const std::string& image) {
  makeImage(image, SECTORS * 512);
  return sh("sgdisk -n 1:2048:+10M -t 1:0700 " + quote(image) + " >/dev/null") == 0 &&
         mkfsAt(image, VOLUME_START, VOLUME_SECTORS,
                "mkfs.vfat -F 16 -h " + std::to_string(VOLUME_START));
}

void zeroSector(const std::string& image, unsigned long long sector) {
  writeSector(image, sector, std::string(512, '\0'));
}

std::string sgdiskVerify(const std::string& image) {
  std::string out;
  sh("sgdisk -v " + quote(image) + " 2>&1", &out);
  return out;
}

std::string disk(const std::string& image) { return "-file " + quote(image) + " -chs " + GEOMETRY; }

// What is left of the GPT on each disk of the table.
struct Damage {
  const char* what;
  std::vector<unsigned long long> zeroed;  // sectors wiped after sgdisk
  bool gpt;                                // what must be left still shows
};

class GptDisk : public ::testing::Test {
protected:
  void SetUp() override {
    if (!haveTool("sgdisk")) GTEST_SKIP() << "sgdisk (package gdisk) is not installed";
    ASSERT_TRUE(makeGptDisk(image));
  }
  TempDir dir;
  std::string image = dir.path("gpt.img");
};

}  // namespace

TEST_F(GptDisk, IsListedAsGptAndNeverWritten) {
  const Damage cases[] = {
      {"whole", {}, true},
      {"protective MBR lost", {0}, true},
      {"only the primary header left", {0, SECTORS - 1}, true},
      {"only the backup header left", {0, 1}, true},
      {"only the protective entry left", {1, SECTORS - 1}, true},
      {"nothing of it left", {0, 1, 2, SECTORS - 33, SECTORS - 1}, false},
  };
  std::string made = dir.path("made.img");
  ASSERT_EQ(0, sh("cp --sparse=always " + quote(image) + " " + quote(made)));
  for (const Damage& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(0, sh("cp --sparse=always " + quote(made) + " " + quote(image)));
    for (unsigned long long s : c.zeroed) zeroSector(image, s);
    std::string before = readFile(image), verified = sgdiskVerify(image);

    CliResult list = runCli(disk(image) + " list");
    EXPECT_EQ(0, list.status);
    EXPECT_EQ(c.gpt, list.out.find(englishText("kelvarin-cli.gpt.001")) != std::string::npos)
        << list.out;
    CliResult json = runCli(disk(image) + " list --json");
    EXPECT_NE(std::string::npos, json.out.find(c.gpt ? "\"gpt\": true" : "\"gpt\": false")) << json.out;

    for (const char* mode : {" -sim", ""}) {
      CliResult r = runCli(disk(image) + mode + " recover --disk 1 --pick @2048");
      if (!c.gpt) {
        // With no trace of the GPT left, the FAT16 volume is a lost partition.
        EXPECT_EQ(0, r.status) << mode << r.err;
        continue;
      }
      EXPECT_EQ(1, r.status) << mode << r.err;
      char refused[512];
      snprintf(refused, sizeof(refused), englishText("kelvarin-cli.gpt.002").c_str(), 1);
      EXPECT_NE(std::string::npos, r.err.find(refused)) << mode << r.err;
      EXPECT_TRUE(before == readFile(image)) << mode;
      EXPECT_EQ(verified, sgdiskVerify(image)) << mode;
    }
  }
}

// In the engine: the writer, a sector write and the undo database all leave
// a GPT disk alone, even one whose protective MBR is gone.
TEST_F(GptDisk, TheEngineLeavesItAlone) {
  zeroSector(image, 0);
  std::string before = readFile(image), verified = sgdiskVerify(image);
  HookedDisk hooked;
  ImageAnalyser a(image, GEOMETRY);
  EXPECT_TRUE(a.disk().gaps.empty()) << "nothing of a GPT disk is offered for a search";

  // Sectors 3 to 33 hold unused entries, zeros that look like free sectors.
  EXPECT_EQ(34u, IOSystem::LocateFreeDBSector(image.c_str(), 0, 63));

  a.disk().dbActive = true;
  IOSystem::disableWriteLog = false;
  std::string mbr = tableSector({entryBytes(0x0e, VOLUME_START, VOLUME_SECTORS)});
  EXPECT_FALSE(IOSystem::WriteBR(image.c_str(), mbr.data(), 0));
  EXPECT_STREQ(IOSystem::writeFailure.key, "IOSystem.WriteBR.002");
  RecoverPart chosen;
  chosen.device = image.c_str();
  chosen.sector = VOLUME_START;
  chosen.size = VOLUME_SECTORS * 512;
  chosen.heads = 255;
  chosen.sectorsPerTrack = 63;
  Recover recover({chosen}, {}, nullptr, true, {{VOLUME_START}}, {image.c_str()});
  IOSystem::disableWriteLog = true;
  EXPECT_EQ(hooked.writes, 0u);
  ASSERT_EQ(recover.results.size(), 1u);
  EXPECT_STREQ(recover.results[0].reason.key, "IOSystem.WriteBR.002") << "the writer says why it writes nothing";
  EXPECT_TRUE(before == readFile(image));
  EXPECT_EQ(verified, sgdiskVerify(image));
}
