#include "support/Engine.h"

#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>

#include "support/TestImages.h"

namespace kvtest {

std::unique_ptr<Analyse> analyseImage(const std::string& image, const std::string& chs,
                                      std::vector<std::string> options) {
  std::vector<std::string> args = {"kelvarin", "-chs", chs, "-file", image};
  args.insert(args.end(), options.begin(), options.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(&a[0]);
  return std::unique_ptr<Analyse>(new Analyse(nullptr, (FXint)argv.size(), argv.data()));
}

ImageAnalyser::ImageAnalyser(const std::string& image, const std::string& chs,
                             std::vector<std::string> options)
    : analyser(analyseImage(image, chs, std::move(options)).release()) {
  sharedAnalyser = analyser;
}

ImageAnalyser::~ImageAnalyser() {
  delete analyser;
  sharedAnalyser = nullptr;
}

std::string readSector(const std::string& image, unsigned long long sector) {
  std::string data(512, '\0');
  int fd = open(image.c_str(), O_RDONLY);
  if (fd < 0 || pread(fd, &data[0], 512, (off_t)(sector * 512)) != 512)
    throw std::runtime_error("cannot read " + image);
  close(fd);
  return data;
}

void writeSector(const std::string& image, unsigned long long sector, const std::string& data) {
  patchFile(image, sector * 512, data.data(), data.size());
}

std::string entryBytes(unsigned char type, unsigned dist, unsigned num, unsigned char boot) {
  std::string e(16, '\0');
  e[0] = (char)boot;
  e[4] = (char)type;
  for (int i = 0; i < 4; i++) {
    e[8 + i] = (char)(dist >> (8 * i));
    e[12 + i] = (char)(num >> (8 * i));
  }
  return e;
}

std::string tableSector(const std::vector<std::string>& entries) {
  std::string s(512, '\0');
  for (size_t k = 0; k < entries.size(); k++) s.replace(446 + 16 * k, 16, entries[k]);
  s[510] = (char)0x55;
  s[511] = (char)0xAA;
  return s;
}

std::vector<RecoverPart> chooseAll(Analyse& analyser, int disk, const std::vector<FXulong>& sectors) {
  std::vector<RecoverPart> chosen;
  const NRD& d = analyser.disks.at(disk);
  for (FXulong s : sectors) {
    for (const Partition& p : analyser.GetValidPartitions(disk, s)) {
      RecoverPart r;
      r.device = d.device;
      r.sector = s;
      r.size = (FXulong)p.entry.num * 512;
      r.logical = p.base != 0;
      r.heads = d.logical.heads;
      r.sectorsPerTrack = d.logical.sectors;
      chosen.push_back(r);
    }
  }
  return chosen;
}

namespace {
class QuietProgress : public SearchProgress {
public:
  explicit QuietProgress(FXuint total) : total(total) {}
  FXuint getTotal() override { return total; }
  FXuint getProgress() override { return 0; }
  void post(FXint, FXulong) override {}

private:
  FXuint total;
};
}  // namespace

std::vector<FXulong> searchAllGaps(Analyse& analyser, int disk) {
  const NRD& d = analyser.disks.at(disk);
  FXulong sectors = 0;
  for (const Gap& g : d.gaps) sectors += g.size;
  QuietProgress progress((FXuint)sectors);
  std::vector<FXulong> found;
  for (const Gap& g : std::list<Gap>(d.gaps)) {
    std::vector<FXulong> part = analyser.Search(&progress, nullptr, disk, false, g.distance,
                                                g.distance + g.size, (FXint)d.gaps.size());
    found.insert(found.end(), part.begin(), part.end());
  }
  return found;
}

bool sameFile(const std::string& a, const std::string& b) {
  return sh("cmp -s '" + a + "' '" + b + "'") == 0;
}

}  // namespace kvtest
