// kelvarin-cli's JSON output against its published schemas, and the
// search's Ctrl-C.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>

#include "support/LostDisk.h"
#include "support/Oracles.h"
#include "support/TestImages.h"

using kvtest::checkSchema;
using kvtest::CliResult;
using kvtest::quote;
using kvtest::runCli;
using kvtest::Volume;

namespace {

const std::string SOURCE_DIR = KV_SOURCE_DIR;

std::string pythonValue(const std::string& document, const std::string& expression) {
  return kvtest::onJson(document, "print(" + expression + ")");
}

}  // namespace

TEST(CliJson, ListAndSearchFollowTheirSchemas) {
  kvtest::TempDir dir;
  std::string image = dir.path("disk.img");
  // A table with a primary FAT16 (active) and an extended partition holding
  // a logical NTFS; and a FAT32 that was lost behind them.
  const unsigned long long cyl = 16 * 63, sectors = 120 * cyl;
  ASSERT_TRUE(kvtest::makeDisk(image, sectors, {{63, 20096, "fat16", 0x06}}, true));
  ASSERT_TRUE(kvtest::sfdisk(image,
                             "label: dos\nlabel-id: 0x4b564c31\n"
                             "start=63, size=20096, type=6, bootable\n"
                             "start=20160, size=30240, type=5\n"
                             "start=20223, size=10017, type=7\n"));
  std::vector<Volume> lost = {{50 * cyl, 72 * cyl, "fat32", 0x0c}};
  std::string fat32 = dir.path("fat32.img");
  ASSERT_TRUE(kvtest::makeDisk(fat32, sectors, lost, false));
  ASSERT_EQ(0, kvtest::sh("dd if=" + quote(fat32) + " of=" + quote(image) + " bs=512 skip=" +
                          std::to_string(50 * cyl) + " seek=" + std::to_string(50 * cyl) +
                          " count=" + std::to_string(72 * cyl) + " conv=notrunc,sparse status=none"));
  std::string disk = "-file " + quote(image) + " -chs 120/16/63";

  CliResult list = runCli(disk + " list --json");
  ASSERT_EQ(0, list.status) << list.err;
  std::string complaints;
  EXPECT_EQ(0, checkSchema("list.schema.json", list.out, &complaints)) << complaints << list.out;
  // level, active, extended, start of each partition
  EXPECT_EQ("[(1, True, False, 63), (1, False, True, 20160), (2, False, False, 20223)]",
            pythonValue(list.out,
                        "[(p[\"level\"], p[\"active\"], p[\"extended\"], p[\"start\"]) "
                        "for p in d[\"disks\"][0][\"partitions\"]]"));

  CliResult search = runCli(disk + " search --json");
  ASSERT_EQ(0, search.status) << search.err;
  EXPECT_EQ(0, checkSchema("search.schema.json", search.out, &complaints)) << complaints << search.out;
  EXPECT_EQ("quick " + std::to_string(50 * cyl),
            pythonValue(search.out, "d[\"mode\"] + \" \" + str(d[\"candidates\"][0][\"start\"])"));

  // The checker does check: a document that breaks the schema is refused.
  std::string broken = search.out;
  broken.replace(broken.find("\"mode\": \"quick\""), 15, "\"mode\": 7");
  EXPECT_EQ(1, checkSchema("search.schema.json", broken, &complaints));
  EXPECT_NE(std::string::npos, complaints.find("$.mode")) << complaints;
  EXPECT_EQ(1, checkSchema("list.schema.json", search.out));
}

// A GPT disk as sgdisk makes it, with its backup lost, and with an entry
// count no disk can hold: the GPT's part of the document fits the schema.
TEST(CliJson, GptDisksFitTheSchema) {
  if (!kvtest::haveTool("sgdisk")) GTEST_SKIP() << "sgdisk is not installed";
  kvtest::TempDir dir;
  std::string image = dir.path("gpt.img");
  const unsigned long long sectors = 16384;
  kvtest::makeImage(image, sectors * 512);
  ASSERT_EQ(0, kvtest::sh("sgdisk -n 1:2048:+2M -c 1:data " + quote(image) + " >/dev/null"));
  const std::string disk = "-file " + quote(image) + " -chs 1/255/63 list --json";
  const char* const states[] = {"intact", "backup-damaged", "hostile"};
  for (const char* state : states) {
    SCOPED_TRACE(state);
    if (std::string(state) == "backup-damaged") {
      std::string zeros(512, '\0');
      kvtest::patchFile(image, (sectors - 1) * 512, zeros.data(), zeros.size());
    } else if (std::string(state) == "hostile") {
      // Both headers lost but the primary, whose count grows beyond 4 MiB of entries.
      std::string h = kvtest::readFile(image).substr(512, 512);
      unsigned char count[4] = {0, 0, 1, 0};  // 65536 entries
      memcpy(&h[80], count, 4);
      memset(&h[16], 0, 4);
      unsigned crc = (unsigned)crc32(0, (const Bytef*)h.data(), 92);
      for (int i = 0; i < 4; i++) h[16 + i] = (char)(crc >> (8 * i));
      kvtest::patchFile(image, 512, h.data(), h.size());
    }
    CliResult r = runCli(disk);
    ASSERT_EQ(0, r.status) << r.err;
    std::string complaints;
    EXPECT_EQ(0, checkSchema("list.schema.json", r.out, &complaints)) << complaints << r.out;
    EXPECT_EQ(state, pythonValue(r.out, "d[\"disks\"][0][\"gptTable\"][\"state\"]"));
  }
}

TEST(CliJson, OddDeviceNamesStayValidJson) {
  kvtest::TempDir dir;
  // A quote, a backslash, a tab and a byte that is not UTF-8 in the name.
  std::string name = dir.path("odd \"disk\"\\\t\xe9.img");
  kvtest::makeImage(name, 20 * 16 * 63 * 512);
  CliResult r = runCli("-file " + quote(name) + " -chs 20/16/63 list --json");
  ASSERT_EQ(0, r.status) << r.err;
  std::string complaints;
  EXPECT_EQ(0, checkSchema("list.schema.json", r.out, &complaints)) << complaints << r.out;
  EXPECT_EQ(dir.path("odd \"disk\"\\\t\xc3\xa9.img"), pythonValue(r.out, "d[\"disks\"][0][\"device\"]"))
      << "the stray byte reads as its Latin-1 character";
}

// Ctrl-C during a long full search stops the first pass; the partition
// found before it is still checked and reported.
TEST(CliInterrupt, CtrlCStopsTheFirstPassAndReportsWhatWasFound) {
  kvtest::TempDir dir;
  std::string image = dir.path("big.img");
  const unsigned long long sectors = 1040ull * 255 * 63;  // 8 GiB, sparse
  ASSERT_TRUE(kvtest::makeDisk(image, sectors, {{63, 20096, "fat16", 0x06}}, false, 255, 63));
  std::string out = dir.path("out"), err = dir.path("err");
  // The trace line that the first pass has begun is the cue for Ctrl-C.
  std::string script =
      "./kelvarin-cli -file " + quote(image) + " -chs 1040/255/63 -tracelevel 9 search --full --json >" +
      quote(out) + " 2>" + quote(err) + " & pid=$!\n"
      "for i in $(seq 1 600); do grep -q \"first pass procent\" " + quote(err) +
      " && break; sleep 0.1; done\n"
      "kill -INT $pid; wait $pid; echo $?";
  std::string status;
  kvtest::sh("bash -c " + quote(script), &status);
  std::string json = kvtest::readFile(out);
  EXPECT_EQ("0\n", status) << kvtest::readFile(err).substr(0, 2000);
  EXPECT_EQ("True", pythonValue(json, "d[\"interrupted\"]")) << json;
  EXPECT_EQ("[63]", pythonValue(json, "[c[\"start\"] for c in d[\"candidates\"]]")) << json;
}

TEST(CliJson, TheExamplesInSchemaMdFollowTheSchemas) {
  std::string text = kvtest::readFile(SOURCE_DIR + "/cli/SCHEMA.md");
  size_t at = 0;
  for (const char* schema : {"list.schema.json", "search.schema.json"}) {
    at = text.find("```json\n", at);
    ASSERT_NE(std::string::npos, at) << schema;
    at += 8;
    std::string complaints;
    EXPECT_EQ(0, checkSchema(schema, text.substr(at, text.find("```", at) - at), &complaints)) << complaints;
  }
}
