// Looking inside found volumes: file systems made by the real mkfs tools and
// filled with known files (mcopy, debugfs, mkfs -d, ntfscp), placed inside a
// larger image; their listings against what was put in, their summaries
// against blkid, damaged copies, and hostile directory bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>

#include "contents/VolumeContents.h"
#include "recognise/OnDisk.h"
#include "support/Oracles.h"
#include "support/TestImages.h"

using namespace kvtest;

namespace {

const FXulong START = 2048;  // where each volume lies inside its disk image

// What the tests put into every volume: name, size in bytes; "/" ends a folder.
const std::map<std::string, unsigned long long> ROOT_FILES = {
    {"hello.txt", 6}, {"Long name with spaces.dat", 5000}, {"sub/", 0}};
const std::map<std::string, unsigned long long> SUB_FILES = {{"inner.bin", 1234}};

enum class Fill { MCOPY, DEBUGFS, MKFS_D, NTFSCP, NONE };

struct Case {
  const char* name;
  const char* tool;  // must be on the PATH
  const char* mkfs;  // the volume file follows as the last argument
  FXulong sectors;
  Fill fill;
  const char* fileSystem;
  const char* label;
};

const Case CASES[] = {
    {"fat12", "mcopy", "mkfs.fat -F 12 -n KVFAT12", 4096, Fill::MCOPY, "FAT12", "KVFAT12"},
    {"fat16", "mcopy", "mkfs.fat -F 16 -n KVFAT16", 32768, Fill::MCOPY, "FAT16", "KVFAT16"},
    {"fat32", "mcopy", "mkfs.fat -F 32 -s 1 -n KVFAT32", 69632, Fill::MCOPY, "FAT32", "KVFAT32"},
    {"ext2", "debugfs", "mke2fs -q -F -t ext2 -b 1024 -L kvext2", 8192, Fill::DEBUGFS, "ext2", "kvext2"},
    {"ext4", "mke2fs", "mke2fs -q -F -t ext4 -b 1024 -L kvext4 -d DIR", 16384, Fill::MKFS_D, "ext4", "kvext4"},
    {"ntfs", "ntfscp", "mkntfs -q -F -Q -L kvntfs", 16384, Fill::NTFSCP, "NTFS", "kvntfs"},
    {"exfat", "mkfs.exfat", "mkfs.exfat -L kvexfat", 16384, Fill::NONE, "exFAT", "kvexfat"},
};

// The known files in a folder of their own, for mcopy and mkfs -d.
void makeFiles(const std::string& dir) {
  sh("mkdir -p " + dir + "/sub");
  sh("printf 'hello\\n' > " + dir + "/hello.txt");
  sh("head -c 5000 /dev/urandom > '" + dir + "/Long name with spaces.dat'");
  sh("head -c 1234 /dev/urandom > " + dir + "/sub/inner.bin");
}

bool fill(const Case& c, const std::string& volume, const std::string& files) {
  switch (c.fill) {
    case Fill::MCOPY:
      return sh("mcopy -s -i " + volume + " " + files + "/* ::/") == 0;
    case Fill::DEBUGFS: {
      std::ofstream(files + "/commands") << "mkdir sub\n"
                                         << "write " << files << "/hello.txt hello.txt\n"
                                         << "write \"" << files << "/Long name with spaces.dat\" "
                                         << "\"Long name with spaces.dat\"\n"
                                         << "cd sub\nwrite " << files << "/sub/inner.bin inner.bin\n";
      return sh("debugfs -w -f " + files + "/commands " + volume + " >/dev/null 2>&1") == 0;
    }
    case Fill::NTFSCP:
      // ntfscp copies files into folders that are there; a folder cannot be
      // made without a mount, so NTFS gets the root's files only.
      return sh("ntfscp -q " + volume + " " + files + "/hello.txt hello.txt") == 0 &&
             sh("ntfscp -q " + volume + " '" + files + "/Long name with spaces.dat' "
                "'Long name with spaces.dat'") == 0;
    default:
      return true;
  }
}

// A disk image holding the volume at START; the volume's own file stays too.
bool makeVolume(const Case& c, const TempDir& dir, std::string& disk) {
  std::string files = dir.path("files"), volume = dir.path("volume.img");
  makeFiles(files);
  std::string mkfs = c.mkfs;
  size_t d = mkfs.find("DIR");
  if (d != std::string::npos) mkfs.replace(d, 3, files);
  makeImage(volume, c.sectors * 512);
  if (sh(mkfs + " " + volume + " >/dev/null 2>&1") != 0 || !fill(c, volume, files)) return false;
  disk = dir.path("disk.img");
  makeImage(disk, (START + c.sectors + 2048) * 512);
  return sh("dd if=" + volume + " of=" + disk + " bs=512 seek=" + std::to_string(START) +
            " conv=notrunc,sparse status=none") == 0;
}

// Every entry of a folder, read a page of `page` entries at a time, as
// "name" or "name/" with its size.
std::map<std::string, unsigned long long> listAll(VolumeContents& v, const FXString& path,
                                                  FXuint page = 100) {
  std::map<std::string, unsigned long long> all;
  for (FXuint first = 0;; first += page) {
    Listing l = v.list(path, first, page);
    EXPECT_TRUE(l.found) << path.text();
    EXPECT_LE(l.entries.size(), page);
    for (const DirEntry& e : l.entries) all[std::string(e.name.text()) + (e.folder ? "/" : "")] = e.size;
    if (!l.more) break;
  }
  return all;
}

bool hasNote(const Listing& l, const char* key) {
  for (const ContentsNote& n : l.notes)
    if (strcmp(n.key, key) == 0) return true;
  return false;
}

class VolumeContentsTest : public ::testing::TestWithParam<Case> {
protected:
  TempDir dir;
  std::string disk;
  ImageReader reader;
  std::unique_ptr<VolumeContents> volume;

  void SetUp() override {
    const Case& c = GetParam();
    if (!haveTool(c.tool)) GTEST_SKIP() << c.tool << " is not installed";
    ASSERT_TRUE(makeVolume(c, dir, disk));
    ASSERT_TRUE(reader.open(disk.c_str()));
    open();
  }

  void open() {
    ContentsNote why;
    volume = OpenVolumeContents(reader, START, GetParam().sectors, why);
    ASSERT_TRUE(volume) << (why.key ? why.key : "");
  }

  // Zeroes `bytes` bytes at byte `offset` of the volume, then reads it again.
  void zero(unsigned long long offset, size_t bytes) {
    std::vector<char> zeros(bytes, 0);
    patchFile(disk, START * 512 + offset, zeros.data(), zeros.size());
    reader.close();
    ASSERT_TRUE(reader.open(disk.c_str()));
    volume.reset();
    open();
  }
};

TEST_P(VolumeContentsTest, ListsWhatWasPutIn) {
  const Case& c = GetParam();
  std::map<std::string, unsigned long long> root = listAll(*volume, "/");
  root.erase("lost+found/");  // ext makes it
  if (c.fill == Fill::NONE) {
    EXPECT_TRUE(root.empty());
    return;
  }
  std::map<std::string, unsigned long long> expected = ROOT_FILES;
  if (c.fill == Fill::NTFSCP) expected.erase("sub/");
  EXPECT_EQ(expected, root);
  if (c.fill != Fill::NTFSCP) {
    EXPECT_EQ(SUB_FILES, listAll(*volume, "/sub"));
  }
  // Pages of one entry each give the same listing as one page of all.
  EXPECT_EQ(listAll(*volume, "/", 100), listAll(*volume, "/", 1));
  Listing missing = volume->list("/no such folder", 0, 10);
  EXPECT_FALSE(missing.found);
  EXPECT_TRUE(hasNote(missing, "Contents.List.001"));
}

TEST_P(VolumeContentsTest, SummaryAgreesWithBlkid) {
  const Case& c = GetParam();
  std::string file = dir.path("volume.img");
  VolumeSummary s = volume->summary();
  EXPECT_STREQ(c.fileSystem, s.fileSystem.text());
  std::map<std::string, std::string> blkid = blkidProbe(file);
  EXPECT_EQ(blkid["LABEL"], s.label.text());
  EXPECT_EQ(blkid["UUID"], s.uuid.text());
  EXPECT_TRUE(s.intact) << s.damage.key;
  EXPECT_GT(s.blockSize, 0u);
  if (s.spaceKnown) {
    EXPECT_GT(s.usedBytes, 0u);
    EXPECT_LE(s.usedBytes + s.freeBytes, c.sectors * 512);
  }
}

// Where each family keeps what the damage test zeroes: the first FAT, the
// first block of group 0's inode table, MFT record 0, the first sector of
// exFAT's copy of its boot region.
TEST_P(VolumeContentsTest, DamagedCopyIsReportedDamaged) {
  const Case& c = GetParam();
  std::string file = dir.path("volume.img");
  FXuchar boot[512];
  ASSERT_TRUE(reader.read(START, boot, sizeof(boot)));
  using ondisk::le16;
  using ondisk::le32;
  const char* expected;
  if (std::string(c.fileSystem).compare(0, 3, "FAT") == 0) {
    // The first FAT past its media byte and reserved entries: the copies differ.
    FXulong fatSectors = le16(boot + 0x16) ? le16(boot + 0x16) : le32(boot + 0x24);
    zero((FXulong)le16(boot + 0x0E) * 512 + 8, fatSectors * 512 - 8);
    expected = "Contents.Check.001";
  } else if (c.fill == Fill::DEBUGFS || c.fill == Fill::MKFS_D) {
    std::string out;
    sh("dumpe2fs " + file + " 2>/dev/null | grep -m1 'Inode table at' | sed 's/.*at \\([0-9]*\\)-.*/\\1/'", &out);
    ASSERT_FALSE(out.empty());
    zero(std::stoull(out) * 1024, 1024);
    expected = "Contents.Check.007";
  } else if (c.fill == Fill::NTFSCP) {
    FXulong cluster = (FXulong)le16(boot + 0x0B) * boot[0x0D];
    zero(ondisk::le64(boot + 0x30) * cluster, 1024);
    expected = "Contents.Check.009";
  } else {
    zero(12 * 512, 512);
    expected = "Contents.Check.004";
  }
  if (HasFatalFailure()) return;
  VolumeSummary s = volume->summary();
  EXPECT_FALSE(s.intact);
  ASSERT_TRUE(s.damage.set());
  EXPECT_STREQ(expected, s.damage.key);
  // What can be read is still shown; the rest says why it is missing.
  Listing l = volume->list("/", 0, 100);
  for (const DirEntry& e : l.entries) EXPECT_FALSE(e.name.empty());
}

INSTANTIATE_TEST_SUITE_P(Mkfs, VolumeContentsTest, ::testing::ValuesIn(CASES),
                         [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

// Hostile directory bytes, written into real volumes held in memory: every
// one gives its note and what can still be read, and none hangs.
class HostileDirectories : public ::testing::Test {
protected:
  TempDir dir;
  std::vector<FXuchar> bytes;

  // A volume made by `mkfs` and filled with the known files by `fill`.
  void make(const Case& c) {
    if (!haveTool(c.tool)) GTEST_SKIP() << c.tool << " is not installed";
    std::string disk;
    ASSERT_TRUE(makeVolume(c, dir, disk));
    std::string volume = readFile(dir.path("volume.img"));
    bytes.assign(volume.begin(), volume.end());
  }

  Listing list(const FXString& path) {
    MemoryReader reader(bytes);
    ContentsNote why;
    std::unique_ptr<VolumeContents> v = OpenVolumeContents(reader, 0, reader.sectors(), why);
    EXPECT_TRUE(v) << (why.key ? why.key : "");
    if (!v) return Listing();
    v->summary();  // must not trip over what the listing trips over
    return v->list(path, 0, 1000);
  }

  FXuint u16(size_t at) const { return ondisk::le16(bytes.data() + at); }
  FXuint u32(size_t at) const { return ondisk::le32(bytes.data() + at); }
  void put16(size_t at, FXuint v) { bytes[at] = (FXuchar)v, bytes[at + 1] = (FXuchar)(v >> 8); }
  void put32(size_t at, FXuint v) { put16(at, v & 0xFFFF), put16(at + 2, v >> 16); }
};

// FAT16's layout from its boot sector, and the root's short entry of `name`.
struct Fat16 {
  size_t fat, fatBytes, root, data, cluster;
  explicit Fat16(const std::vector<FXuchar>& b) {
    fat = ondisk::le16(b.data() + 0x0E) * 512;
    fatBytes = ondisk::le16(b.data() + 0x16) * 512;
    root = fat + 2 * fatBytes;
    data = root + ondisk::le16(b.data() + 0x11) * 32;
    cluster = b[0x0D] * 512;
  }
  size_t entry(const std::vector<FXuchar>& b, const char* shortName) const {
    for (size_t at = root; at < data; at += 32)
      if (memcmp(b.data() + at, shortName, 11) == 0) return at;
    ADD_FAILURE() << shortName << " not found";
    return root;
  }
};

TEST_F(HostileDirectories, FatLoopsSizesControlCharactersAndEndlessLongNames) {
  make(CASES[1]);
  if (IsSkipped() || HasFatalFailure()) return;
  Fat16 f(bytes);
  size_t sub = f.entry(bytes, "SUB        "), hello = f.entry(bytes, "HELLO   TXT");
  FXuint subCluster = u16(sub + 26);

  // The sub-folder's chain comes back to itself, in both FATs.
  for (size_t copy = 0; copy < 2; copy++) put16(f.fat + copy * f.fatBytes + subCluster * 2, subCluster);
  Listing looped = list("/sub");
  EXPECT_TRUE(looped.found);
  EXPECT_TRUE(hasNote(looped, "Contents.List.002"));
  ASSERT_EQ(1u, looped.entries.size());
  EXPECT_STREQ("inner.bin", looped.entries[0].name.text());

  // A size beyond the volume and a name with a control character.
  put32(hello + 28, 0xFFFFFFFF);
  bytes[hello + 1] = 0x07;
  Listing odd = list("/");
  EXPECT_TRUE(hasNote(odd, "Contents.List.006"));
  EXPECT_TRUE(hasNote(odd, "Contents.List.003"));
  bool shown = false;
  for (const DirEntry& e : odd.entries) shown = shown || (e.size == 0xFFFFFFFF && e.name.find('?') >= 0);
  EXPECT_TRUE(shown);

  // The looping folder holds nothing but long-name parts that never reach
  // their short entry.
  size_t at = f.data + (subCluster - 2) * f.cluster;
  for (size_t e = 0; e < f.cluster / 32; e++) {
    FXuchar* p = bytes.data() + at + e * 32;
    memset(p, 'A', 32);
    p[0] = (FXuchar)(e == 0 ? 0x40 | 31 : 31 - e % 31);
    p[11] = 0x0F;
  }
  Listing endless = list("/sub");
  EXPECT_TRUE(hasNote(endless, "Contents.List.004"));
  EXPECT_TRUE(endless.entries.empty());
}

TEST_F(HostileDirectories, ExfatLoopsBrokenSetsAndOddNames) {
  make(CASES[6]);
  if (IsSkipped() || HasFatalFailure()) return;
  size_t sector = 1u << bytes[0x6C], cluster = sector << bytes[0x6D];
  size_t fat = u32(0x50) * sector, heap = u32(0x58) * sector;
  FXuint rootCluster = u32(0x60);
  size_t root = heap + (rootCluster - 2) * cluster;
  size_t end = root;
  while (bytes[end] != 0) end += 32;

  // A file whose name holds a control character and whose size is absurd,
  // then a set that claims more secondary entries than the folder holds.
  FXuchar* e = bytes.data() + end;
  e[0] = 0x85, e[1] = 2, e[4] = 0x20;
  e[32] = 0xC0, e[33] = 0x01, e[35] = 5;
  memset(e + 32 + 24, 0xFF, 6);
  e[64] = 0xC1;
  const char* name = "a\x01" "b.t";
  for (int i = 0; i < 5; i++) e[64 + 2 + 2 * i] = (FXuchar)name[i];
  e[96] = 0x85, e[97] = 0xFF;
  Listing odd = list("/");
  ASSERT_EQ(1u, odd.entries.size());
  EXPECT_STREQ("a?b.t", odd.entries[0].name.text());
  EXPECT_TRUE(hasNote(odd, "Contents.List.003"));
  EXPECT_TRUE(hasNote(odd, "Contents.List.006"));
  EXPECT_TRUE(hasNote(odd, "Contents.List.004"));

  // The root's chain comes back to itself.
  put32(fat + rootCluster * 4, rootCluster);
  Listing looped = list("/");
  EXPECT_TRUE(hasNote(looped, "Contents.List.002"));
  EXPECT_EQ(1u, looped.entries.size());
}

TEST_F(HostileDirectories, ExtNameWithControlCharacters) {
  make(CASES[3]);
  if (IsSkipped() || HasFatalFailure()) return;
  std::string volume = dir.path("volume.img");
  ASSERT_EQ(0, sh("debugfs -w -R \"write " + dir.path("files") + "/hello.txt $(printf 'bad\\001name')\" " +
                  volume + " >/dev/null 2>&1"));
  std::string again = readFile(volume);
  bytes.assign(again.begin(), again.end());
  Listing l = list("/");
  EXPECT_TRUE(hasNote(l, "Contents.List.003"));
  bool shown = false;
  for (const DirEntry& e : l.entries) shown = shown || e.name == "bad?name";
  EXPECT_TRUE(shown);
}

// Not a file system that can be listed: random bytes, a volume cut off
// before its metadata, a swap area.
TEST(VolumeContents, OpensNothingWhereNothingCanBeListed) {
  TempDir dir;
  std::string file = dir.path("swap.img");
  makeImage(file, 4 << 20);
  ASSERT_EQ(0, sh("mkswap " + file + " >/dev/null"));
  ImageReader swap;
  ASSERT_TRUE(swap.open(file.c_str()));
  ContentsNote why;
  EXPECT_FALSE(OpenVolumeContents(swap, 0, swap.sectors(), why));
  EXPECT_STREQ("Contents.Open.002", why.key);

  std::vector<FXuchar> noise(1 << 20);
  for (size_t i = 0; i < noise.size(); i++) noise[i] = (FXuchar)(i * 7919 >> 3);
  MemoryReader random(noise);
  why = ContentsNote();
  EXPECT_FALSE(OpenVolumeContents(random, 0, random.sectors(), why));
  EXPECT_STREQ("Contents.Open.001", why.key);
  EXPECT_FALSE(OpenVolumeContents(random, random.sectors() + 5, 100, why));
}

}  // namespace
