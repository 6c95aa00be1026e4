// Found sectors turned into candidates, the stretches a search is given and
// the rules the chooser and kelvarin-cli share.
#include <gtest/gtest.h>

#include <tuple>

#include "Analyse.h"
#include "Candidates.h"
#include "IOSystem.h"
#include "support/Engine.h"
#include "support/LostDisk.h"
#include "support/TestImages.h"

namespace {

const unsigned long long CYLINDER = 16 * 63;

// A candidate's partition as a search finds it: in a boot record (table 0)
// or in the stray table at `table`.
FoundPartition entryAt(unsigned long long table, unsigned dist, unsigned num) {
  return FoundPartition{0x06, table + dist, num, table};
}
using kvtest::entryBytes;

}  // namespace

TEST(SizeText, StepsOf1024WithTwoDecimals) {
  const std::pair<FXulong, const char*> cases[] = {
      {1024, "1024 Bytes"}, {1025, "1.00 kB"}, {1048576 + 5243, "1.01 MB"},
      {1073741824ull, "1024.00 MB"}, {2000398934016ull, "1863.02 GB"}, {~0ull, "17179869184.00 GB"}};
  for (const auto& c : cases) EXPECT_STREQ(c.second, SizeText(c.first).text()) << c.first;
}

TEST(Candidate, OverlapIsTheChoosersRuleBothWaysRound) {
  Candidate a(0, 100, 1, entryAt(0, 100, 1000), 0);  // 100..1099
  auto other = [](FXint disk, unsigned dist, unsigned num) {
    return Candidate(disk, dist, 1, entryAt(0, dist, num), 0);
  };
  EXPECT_TRUE(a.overlaps(other(0, 500, 2000)));   // begins inside
  EXPECT_TRUE(a.overlaps(other(0, 50, 100)));     // ends inside
  EXPECT_TRUE(other(0, 50, 5000).overlaps(a));    // lies inside it
  EXPECT_FALSE(a.overlaps(other(0, 1100, 10)));   // right behind it
  EXPECT_FALSE(a.overlaps(other(0, 0, 100)));     // right before it
  EXPECT_FALSE(a.overlaps(other(1, 100, 1000)));  // another disk
}

TEST(Candidate, BecomesTheRecordTheWriterTakesAndStretchesStayOnTheDisk) {
  kvtest::TempDir dir;
  std::string image = dir.path("disk.img");
  kvtest::makeImage(image, 20 * CYLINDER * 512);
  kvtest::ImageAnalyser a(image, "20/16/63");
  ASSERT_EQ(1u, a->disks.size());

  Candidate boot(0, 63, 1, entryAt(0, 63, 2000), 'E');
  RecoverPart r = boot.toRecoverPart(*a);
  EXPECT_EQ(std::make_tuple(image, (FXulong)63, (FXulong)63, (FXulong)2000 * 512, false, 16, 63, 'E'),
            std::make_tuple(std::string(r.device.text()), r.sector, r.first, r.size, r.logical,
                            r.heads, r.sectorsPerTrack, r.letter));

  Candidate table(0, 5000, 2, entryAt(5000, 63, 100), 0);
  r = table.toRecoverPart(*a);
  EXPECT_TRUE(r.logical);
  EXPECT_EQ(5000u, r.sector) << "the sector where it was found, not where it starts";
  EXPECT_EQ(5063u, table.start());
  EXPECT_EQ(5063u, r.first);
  EXPECT_EQ(' ', r.letter);

  // The stretches a search is given: every gap that can be searched and
  // nothing beyond the disk.
  NRD& disk = a->disks[0];
  disk.gaps.clear();
  disk.gaps.push_back(Gap(0, 63, -1));
  disk.gaps.push_back(Gap(2000, 0, 0));              // empty
  disk.gaps.push_back(Gap(3000, ~0ull - 100, 0));    // wrapped size
  disk.gaps.push_back(Gap(30000, 10, 1));            // beyond the end
  std::vector<Stretch> s = SearchableStretches(*a);
  ASSERT_EQ(2u, s.size());
  EXPECT_EQ(63u, s[0].end);
  EXPECT_EQ(2, s[1].number);
  EXPECT_EQ(3000u, s[1].start);
  EXPECT_EQ(disk.sectors, s[1].end);  // the wrapped size ends at the disk's end
  EXPECT_EQ(&s[1], StretchContaining(s, 0, 3000));
  EXPECT_EQ(nullptr, StretchContaining(s, 0, 63));

  // The progress total: every sector, or one probe per cylinder and the start.
  std::vector<Stretch> one = {Stretch{0, 1, 0, 20000}};
  disk.qoffset = 16065;
  EXPECT_EQ(20000u, SearchProgressTotal(*a, one, false));
  EXPECT_EQ(2u, SearchProgressTotal(*a, one, true));
  disk.qoffset = 0;  // a disk without a logical geometry
  EXPECT_EQ(20001u, SearchProgressTotal(*a, one, true));
}

TEST(CandidateFinder, PlacesBootRecordsAndStrayTablesAsTheChooserDoes) {
  kvtest::TempDir dir;
  std::string image = dir.path("disk.img");
  unsigned long long sectors = 60 * CYLINDER;
  // One partition in the table at 40 cylinders; the FAT16 at 63 was lost.
  ASSERT_TRUE(kvtest::makeDisk(image, sectors, {{63, 20096, "fat16", 0x06}}, false));
  ASSERT_TRUE(kvtest::sfdisk(image, "label: dos\nstart=" + std::to_string(40 * CYLINDER) +
                                        ", size=" + std::to_string(10 * CYLINDER) + ", type=83\n"));
  // A stray table in free space: two entries within the disk, an extended
  // link and one entry past the end of the disk.
  std::string table = kvtest::tableSector({entryBytes(0x83, 100, 500), entryBytes(0x05, 1000, 500),
                                   entryBytes(0x07, 1000, 900), entryBytes(0x83, 60 * CYLINDER, 10)});
  kvtest::patchFile(image, 30000ull * 512, table.data(), table.size());
  // A table pointing into the existing partition.
  std::string inside = kvtest::tableSector({entryBytes(0x07, 40 * CYLINDER - 31000 + 10, 100)});
  kvtest::patchFile(image, 31000ull * 512, inside.data(), inside.size());

  kvtest::ImageAnalyser a(image, "60/16/63");
  CandidateFinder finder(*a);
  std::vector<Candidate> found = finder.place(0, {63, 30000, 31000, 40 * CYLINDER + 5, sectors + 10});
  ASSERT_EQ(3u, found.size());
  // start, sectors, logical (found through a table), slot, letter in order;
  // the extended link is never offered.
  const std::tuple<FXulong, FXulong, bool, FXint, FXchar> expected[] = {
      {63, 20096, false, 1, 'C'}, {30100, 500, true, 1, 'D'}, {31000, 900, true, 2, 'E'}};
  for (size_t i = 0; i < 3; i++)
    EXPECT_EQ(expected[i], std::make_tuple((FXulong)found[i].start(), (FXulong)found[i].sectors(),
                                           (bool)found[i].logical(), found[i].slot, found[i].letter)) << i;
  EXPECT_STREQ("HPFS/NTFS", found[2].typeName().text());
  finder.clear();  // letters start over
  EXPECT_EQ('C', finder.place(0, {63})[0].letter);
  EXPECT_TRUE(finder.place(7, {63}).empty()) << "no such disk";
}
