// Simulation (-sim) on image files: every write goes to memory and every
// later read sees it, so a simulated run ends as the real run ends, with the
// same messages, and the image is never opened for writing.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <random>
#include <set>

#include "IOSystem.h"
#include "TrialRun.h"
#include "support/CountingDisk.h"
#include "support/Engine.h"
#include "support/LostDisk.h"
#include "support/Oracles.h"
#include "support/TestImages.h"

using namespace kvtest;

namespace {

std::string joined(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& p : parts) text += p + "\n";
  return text;
}

// A run as the user reads it, without the lines that only say whether it
// was simulated: the simulation note, the real run's note on its undo log,
// and the heading above the table (which says "would").
struct Outcome {
  int status;
  std::string out, err;
};

Outcome seen(const CliResult& r) {
  std::set<std::string> onlyOneSide;
  for (const char* key : {"kelvarin-cli.main.009", "kelvarin-cli.recover.014",
                          "kelvarin-cli.recover.017", "kelvarin-cli.recover.015",
                          "kelvarin-cli.sim.001"})
    onlyOneSide.insert(englishText(key));
  auto keep = [&](const std::string& text) {
    std::vector<std::string> kept;
    for (const std::string& l : splitLines(text))
      if (!onlyOneSide.count(l)) kept.push_back(l);
    return joined(kept);
  };
  return {r.status, keep(r.out), keep(r.err)};
}

// Sets a file's modification time well into the past, so that any write,
// however soon, shows in it.
void backdate(const std::string& file) {
  struct timespec times[2] = {{978307200, 0}, {978307200, 0}};  // 2001-01-01
  utimensat(AT_FDCWD, file.c_str(), times, 0);
}

struct timespec modified(const std::string& file) {
  struct stat st;
  memset(&st, 0, sizeof(st));
  stat(file.c_str(), &st);
  return st.st_mtim;
}

bool sameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// kelvarin-cli under strace: what it did to files, one call a line.
struct Traced {
  CliResult result;
  std::vector<std::string> calls;
};

bool straceWorks() { return haveTool("strace") && sh("strace -qq -o /dev/null true") == 0; }

Traced traced(const TempDir& dir, const std::string& args, const std::string& input = "") {
  std::string log = dir.path("strace.log");
  Traced t;
  // A leak check cannot run under ptrace; a sanitizer build keeps its other checks.
  t.result = runProgram("env ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" strace -f -qq -e trace=%file,ioctl -o " +
                            quote(log) + " ./kelvarin-cli " + args,
                        input);
  t.calls = splitLines(readFile(log));
  return t;
}

// The calls that open `file` for writing, create or shorten it, or ask the
// system to re-read a table.
std::vector<std::string> writingCalls(const Traced& t, const std::string& file) {
  std::vector<std::string> found;
  for (const std::string& c : t.calls) {
    bool names = c.find("\"" + file + "\"") != std::string::npos;
    bool writes = c.find("O_WRONLY") != std::string::npos || c.find("O_RDWR") != std::string::npos ||
                  c.find("O_CREAT") != std::string::npos || c.find("O_TRUNC") != std::string::npos ||
                  c.find("truncate(") != std::string::npos;
    if ((names && writes) || c.find("BLKRRPART") != std::string::npos) found.push_back(c);
  }
  return found;
}

bool readsFile(const Traced& t, const std::string& file) {
  for (const std::string& c : t.calls)
    if (c.find("\"" + file + "\"") != std::string::npos && c.find("O_RDONLY") != std::string::npos)
      return true;
  return false;
}

// The sector numbers that differ between two images of one size.
std::vector<unsigned long long> changedSectors(const std::string& a, const std::string& b) {
  std::string x = readFile(a), y = readFile(b);
  std::vector<unsigned long long> changed;
  for (size_t at = 0; at < x.size() && at < y.size(); at += 512)
    if (x.compare(at, 512, y, at, 512) != 0) changed.push_back(at / 512);
  return changed;
}

// One byte of the lost chain disk set to another value before both runs.
struct Mutation {
  std::string what;
  unsigned long long sector;
  unsigned offset;
  unsigned char value;
};

}  // namespace

// Sizes, types and links of the found boot records and chain tables changed
// byte by byte: on every such disk the simulation ends with the status, the
// messages and the table the real recovery ends with, and leaves its copy of
// the disk as it was.
TEST(Simulation, EndsAsTheRealRunOnMutatedDisks) {
  TempDir dir;
  LostDisk lost;
  ASSERT_TRUE(makeLostChainDisk(dir.path("lost.img"), lost));
  const unsigned long long fat = 63, ntfs = lost.partitions[3].start;
  const std::vector<unsigned long long>& eptb = lost.tables;
  std::string picks = " recover --disk 1 --pick @63";
  for (unsigned long long t : eptb) picks += " --pick @" + std::to_string(t) + ":1";

  // The first FAT16 counts 20096 sectors (bytes 19-20, 0x4E80).  Grown by
  // 2 to 64 it reaches over the first chain table (sector 20160) but not
  // into the partition behind it (20223): the pick checks let it pass, and
  // only the writer finds the extended entry overlapping it.
  std::vector<Mutation> mutations = {
      {"nothing changed", 0, 0, 0},
      {"first FAT16 reaches the first chain table", fat, 19, 0x82},
      {"first FAT16 covers part of the first track", fat, 19, 0xA0},
      {"first FAT16 ends in front of the logical FAT16", fat, 19, 0xC0},
      {"first FAT16 reaches into the logical FAT16", fat, 19, 0xC1},
      {"first FAT16 shrunk", fat, 20, 0x20},
      {"NTFS grown past the next table", ntfs, 41, 0x70},
      {"first table's partition unused", eptb[0], 446 + 4, 0x00},
      {"second table's link made a partition", eptb[1], 462 + 4, 0x83},
      {"last table without its signature", eptb[2], 510, 0x00},
  };
  // Then seeded changes of the same kind of fields.
  std::vector<std::pair<unsigned long long, unsigned>> fields = {
      {fat, 19}, {fat, 20}, {fat, 22}, {ntfs, 40}, {ntfs, 41}, {ntfs, 42}};
  for (unsigned long long t : eptb)
    for (unsigned at : {446 + 4, 446 + 8, 446 + 9, 446 + 12, 446 + 13, 462 + 4, 462 + 8, 462 + 13, 511})
      fields.push_back({t, at});
  std::mt19937 random(20240611);
  for (int i = 0; i < 30; i++) {
    auto field = fields[random() % fields.size()];
    mutations.push_back({"seeded " + std::to_string(i), field.first, field.second,
                         (unsigned char)(random() % 256)});
  }

  std::set<int> statuses;
  // The start of the line that names a chosen partition the writer refused.
  std::string refusedLine = englishText("kelvarin-cli.recover.022");
  refusedLine = refusedLine.substr(0, refusedLine.find('%'));
  // Or the check of the layout before writing, which names why.
  std::string layoutRefused = englishText("Kelvarin.onCmd_Next.001") + ": ";
  bool writerSaidWhy = false;
  for (const Mutation& m : mutations) {
    SCOPED_TRACE(m.what + " (sector " + std::to_string(m.sector) + " byte " +
                 std::to_string(m.offset) + ")");
    // Both runs work on one path, which their output names.
    std::string before = dir.path("mutated.img"), work = dir.path("disk.img");
    ASSERT_TRUE(copySparse(lost.image, before));
    if (m.sector != 0) patchFile(before, m.sector * 512 + m.offset, &m.value, 1);
    ASSERT_TRUE(copySparse(before, work));
    std::string args = "-file " + quote(work) + " -chs " + lost.chs;

    Outcome sim = seen(runCli(args + " -sim" + picks));
    EXPECT_EQ(0, sh("cmp -s " + quote(before) + " " + quote(work))) << "the simulation wrote";
    Outcome done = seen(runCli(args + picks));
    EXPECT_EQ(done.status, sim.status) << done.err;
    EXPECT_EQ(done.err, sim.err);
    EXPECT_EQ(done.out, sim.out);
    statuses.insert(done.status);
    writerSaidWhy = writerSaidWhy || done.err.find(refusedLine) != std::string::npos ||
                    done.err.find(layoutRefused) != std::string::npos;
  }
  // The table covers recoveries that succeed and that are refused, by the
  // checks before writing or by the writer, which names each partition it
  // did not write and why.
  EXPECT_EQ(statuses, (std::set<int>{0, 1}));
  EXPECT_TRUE(writerSaidWhy);
}

// A simulated recovery, and a simulated undo of a real one, under strace:
// the image is only ever opened for reading, no table re-read is asked
// for, its bytes and its modification time stay, and what the simulation
// shows is what the real run then does.
TEST(Simulation, NeverOpensTheImageForWriting) {
  if (!straceWorks()) GTEST_SKIP() << "strace cannot trace here";
  TempDir dir;
  LostDisk lost;
  ASSERT_TRUE(makeLostFatNtfsDisk(dir.path("disk.img"), lost));
  std::string disk = "-file " + quote(lost.image) + " -chs " + lost.chs;
  std::string recover = " recover --disk 1 --pick 1 --pick 2 --boot-code --active 63";
  std::string before = readFile(lost.image);
  backdate(lost.image);
  struct timespec time = modified(lost.image);

  Traced sim = traced(dir, disk + " -sim" + recover);
  EXPECT_EQ(0, sim.result.status) << sim.result.err;
  EXPECT_TRUE(readsFile(sim, lost.image)) << "strace saw the image";
  EXPECT_EQ(writingCalls(sim, lost.image), std::vector<std::string>());
  EXPECT_TRUE(before == readFile(lost.image));
  EXPECT_TRUE(sameTime(time, modified(lost.image)));

  CliResult real = runCli(disk + recover);
  ASSERT_EQ(0, real.status) << real.err;
  EXPECT_EQ(seen(real).out, seen(sim.result).out) << "the table the simulation foresaw";
  std::string recovered = dir.path("recovered.img");
  ASSERT_TRUE(copySparse(lost.image, recovered));
  backdate(lost.image);
  time = modified(lost.image);

  Traced simUndo = traced(dir, disk + " -sim undo", "y\n");
  EXPECT_EQ(0, simUndo.result.status) << simUndo.result.err;
  EXPECT_EQ(writingCalls(simUndo, lost.image), std::vector<std::string>());
  EXPECT_TRUE(sameFile(recovered, lost.image));
  EXPECT_TRUE(sameTime(time, modified(lost.image)));
  EXPECT_EQ(std::string::npos, simUndo.result.err.find(englishText("kelvarin-cli.undo.006")))
      << "a simulation undoes nothing";

  CliResult undo = runCli(disk + " undo --yes");
  ASSERT_EQ(0, undo.status) << undo.err;
  EXPECT_TRUE(before == readFile(lost.image));
  EXPECT_EQ(seen(undo).out, seen(simUndo.result).out) << "the table the simulation foresaw";
  // The simulation named the sectors the undo then wrote.
  std::string named;
  for (unsigned long long s : changedSectors(recovered, lost.image))
    named += (named.empty() ? "" : ", ") + std::to_string(s);
  char expected[512];
  snprintf(expected, sizeof(expected), englishText("kelvarin-cli.sim.002").c_str(), 1, named.c_str());
  EXPECT_NE(std::string::npos, simUndo.result.err.find(expected)) << simUndo.result.err;
}

// A write-protected disk: the real recovery cannot write and says so, and
// the simulation, which never tries, foresees it.
TEST(Simulation, AWriteProtectedDiskFailsAsTheRealRunDoes) {
  TempDir dir;
  LostDisk lost;
  ASSERT_TRUE(makeLostFatNtfsDisk(dir.path("disk.img"), lost));
  LoopDevice loop(lost.image, 512, true);
  if (loop.device.empty()) GTEST_SKIP() << "no loop device can be attached here";
  std::string before = readFile(lost.image);
  std::string args = "-file " + quote(loop.device) + " -chs " + lost.chs;
  std::string recover = " recover --disk 1 --pick 1 --pick 2";

  Outcome sim = seen(runCli(args + " -sim" + recover));
  Outcome real = seen(runCli(args + recover));
  EXPECT_EQ(3, real.status) << real.err;
  EXPECT_EQ(real.status, sim.status) << sim.err;
  EXPECT_EQ(real.err, sim.err);
  EXPECT_TRUE(before == readFile(lost.image));
}

// In the engine: one-shot reads and the read context both see a simulated
// write, on its own device only, across sector boundaries; the image keeps
// its bytes.
TEST(Simulation, EveryReadSeesWhatTheSimulationWrote) {
  TempDir dir;
  HookedDisk hooked;
  OldSectorImages images(dir);
  const std::string &image = images.image, &other = images.other, &old = images.old;
  std::string before = readFile(image);
  FreshIOSystem io;
  ImageAnalyser a(image, "1/1/63", {"-sim"});
  std::string now(512, 'n');
  ASSERT_TRUE(IOSystem::WriteBR(image.c_str(), now.data(), 5 * 512));
  EXPECT_EQ(hooked.writes, 0u);

  struct Read {
    std::string device;
    bool context;
    unsigned long long offset;
    unsigned length;
    std::string expected;
  } reads[] = {
      {image, false, 5 * 512, 512, now},
      {image, false, 4 * 512 + 500, 524, std::string(12, 'o') + now.substr(0, 512)},
      {image, false, 5 * 512 + 256, 512, now.substr(0, 256) + old.substr(0, 256)},
      {image, true, 4 * 512, 1536, old + now + old},
      {image, true, 5 * 512, 512, now},
      {other, false, 5 * 512, 512, old},
      {other, true, 4 * 512, 1024, std::string(512, '\0') + old},
  };
  for (const Read& r : reads) {
    std::string got(r.length, '\0');
    if (r.context) {
      ASSERT_TRUE(IOSystem::PrepareRead(r.device.c_str(), 64));
      EXPECT_TRUE(IOSystem::Read(r.offset / 512, &got[0], r.length));
      IOSystem::CloseRead();
    } else {
      EXPECT_TRUE(IOSystem::ReadBR(r.device.c_str(), &got[0], r.offset, r.length));
    }
    EXPECT_TRUE(got == r.expected) << r.device << (r.context ? " context " : " once ") << r.offset;
  }
  EXPECT_TRUE(before == readFile(image));
}

// A trial run under -sim works on what the simulation wrote so far, as the
// real run would on what it wrote; what the trial writes is gone when it
// ends, and the simulation's own writes and the list of them stay.
TEST(Simulation, ATrialRunSeesTheSimulationsWritesAndLeavesThem) {
  TempDir dir;
  HookedDisk hooked;
  OldSectorImages images(dir);
  const std::string &image = images.image, &old = images.old;
  std::string simulated(512, 's'), tried(512, 't');
  std::string before = readFile(image);
  FreshIOSystem io;
  ImageAnalyser a(image, "1/1/63", {"-sim"});
  ASSERT_TRUE(IOSystem::WriteBR(image.c_str(), simulated.data(), 5 * 512));

  auto sector = [&](unsigned long long s) {
    std::string got(512, '\0');
    EXPECT_TRUE(IOSystem::ReadBR(image.c_str(), &got[0], s * 512, 512));
    return got;
  };
  {
    TrialRun trial;
    EXPECT_TRUE(sector(5) == simulated) << "the trial reads the simulation's write";
    ASSERT_TRUE(IOSystem::WriteBR(image.c_str(), tried.data(), 6 * 512));
    EXPECT_TRUE(sector(6) == tried);
    ASSERT_TRUE(IOSystem::PrepareRead(image.c_str(), 64));
    std::string both(1024, '\0');
    EXPECT_TRUE(IOSystem::Read(5, &both[0], 1024));
    IOSystem::CloseRead();
    EXPECT_TRUE(both == simulated + tried) << "the read context in the trial";
  }
  EXPECT_TRUE(IOSystem::simulationMode);
  EXPECT_TRUE(sector(5) == simulated);
  EXPECT_TRUE(sector(6) == old) << "the trial's write outlived it";
  EXPECT_EQ(IOSystem::SimulatedSectorNumbers(image.c_str()), (std::vector<FXulong>{5}));
  EXPECT_EQ(hooked.writes, 0u);
  EXPECT_TRUE(before == readFile(image));
}
