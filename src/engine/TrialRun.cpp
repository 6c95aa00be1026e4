#include "TrialRun.h"

#include <algorithm>
#include <array>
#include <cstring>


// The disk layer of a trial: reads come from the layer below, with the
// sectors written so far laid over them; writes stay in memory.  It opens
// every device for reading only, so nothing it is given can reach a disk.
class TrialRun::Layer : public DiskAccess {
public:
  explicit Layer(DiskAccess& below) : below(below) {}

  Handle open(const FXString& name, bool, bool sequential) override {
    Handle h = below.open(name, false, sequential);
    if (h != INVALID) handles[h] = Place{name, 0};
    return h;
  }
  void close(Handle h) override {
    handles.erase(h);
    below.close(h);
  }
  bool writable(const FXString& name) override { return below.writable(name); }
  bool seek(Handle h, FXulong offset) override {
    handles[h].pos = offset;
    return below.seek(h, offset);
  }
  bool read(Handle h, void* buffer, FXuint length, FXuint& done) override {
    Place& place = handles[h];
    bool ok = below.read(h, buffer, length, done);
    if (ok) layWrittenOver(place, (FXuchar*)buffer, done);
    place.pos += done;
    return ok;
  }
  // Whole sectors only, as IOSystem::WriteBR writes them.
  bool write(Handle h, const void* buffer, FXuint length, FXuint& done) override {
    Place& place = handles[h];
    done = 0;
    if (place.pos % SECTOR_SIZE != 0 || length % SECTOR_SIZE != 0) return false;
    const FXuchar* bytes = (const FXuchar*)buffer;
    std::map<FXulong, Sector>& sectors = written[place.name];
    for (FXuint at = 0; at < length; at += SECTOR_SIZE)
      memcpy(sectors[(place.pos + at) / SECTOR_SIZE].data(), bytes + at, SECTOR_SIZE);
    done = length;
    place.pos += length;
    return below.seek(h, place.pos);  // the handle stands where a write would leave it
  }
  bool flush(Handle) override { return true; }
  bool size(Handle h, FXulong& bytes) override { return below.size(h, bytes); }
  FXuint sectorSize(Handle h) override { return below.sectorSize(h); }
  bool identity(const FXString& name, Identity& id) override { return below.identity(name, id); }
  bool geometry(Handle h, CHS& logical) override { return below.geometry(h, logical); }
  // Nothing changed for the system to see.
  bool rereadTable(Handle) override { return true; }
  std::vector<FXString> listDisks() override { return below.listDisks(); }
  FXuint logicalDriveMask() override { return below.logicalDriveMask(); }
  std::vector<FixedVolume> fixedVolumes() override { return below.fixedVolumes(); }
  FXuint lastError() override { return below.lastError(); }

private:
  typedef std::array<FXuchar, SECTOR_SIZE> Sector;
  struct Place {
    FXString name;
    FXulong pos;
  };

  // Copies the written sectors that overlap `length` bytes read at the
  // handle's position into `buffer`.
  void layWrittenOver(const Place& place, FXuchar* buffer, FXuint length) {
    auto device = written.find(place.name);
    if (device == written.end()) return;
    FXulong end = place.pos + length;
    for (auto s = device->second.lower_bound(place.pos / SECTOR_SIZE);
         s != device->second.end() && s->first * SECTOR_SIZE < end; ++s) {
      FXulong first = s->first * SECTOR_SIZE;
      FXulong from = std::max(first, place.pos), to = std::min(first + SECTOR_SIZE, end);
      memcpy(buffer + (from - place.pos), s->second.data() + (from - first), to - from);
    }
  }

  DiskAccess& below;
  std::map<Handle, Place> handles;
  std::map<FXString, std::map<FXulong, Sector>> written;  // by device, then sector
};

// A trial's assertion reports would repeat in the real run.
static void dropAssertion(const char*) {}

TrialRun::TrialRun()
    : layer(new Layer(DiskAccess::current())),
      previous(DiskAccess::install(layer.get())),
      backup(IOSystem::backupSectors),
      simulation(IOSystem::simulationMode),
      writeLogOff(IOSystem::disableWriteLog),
      asserts(kv::setAssertSink(dropAssertion)) {
  KV_TRACE(7, "TrialRun::TrialRun()\n");
  for (std::vector<NRD>* list : IOSystem::attachedDisks) disks.emplace_back(list, *list);
  IOSystem::simulationMode = false;
}

TrialRun::~TrialRun() {
  KV_TRACE(7, "TrialRun::~TrialRun()\n");
  for (auto& list : disks) *list.first = list.second;
  IOSystem::backupSectors.swap(backup);
  IOSystem::disableWriteLog = writeLogOff;
  IOSystem::simulationMode = simulation;
  DiskAccess::install(previous);
  kv::setAssertSink(asserts);
}
