#include "platform/MemoryWriteLayer.h"

#include <algorithm>
#include <cstring>

#include "compat/Assert.h"

MemoryWriteLayer::MemoryWriteLayer(DiskAccess* below, WriteCheck check)
    : below(below), check(check) {}

DiskAccess::Handle MemoryWriteLayer::open(const FXString& name, bool write, bool sequential) {
  // The real run's open for writing fails on a device the system keeps
  // read-only; asked without opening it so.
  if (write && check == WRITABLE_DEVICES && !lower().writable(name)) {
    KV_TRACE(8, "MemoryWriteLayer: %s cannot be opened for writing\n", name.text());
    return INVALID;
  }
  Handle h = lower().open(name, false, sequential);
  if (h == INVALID) return h;
  std::lock_guard<std::mutex> guard(lock);
  handles[h] = Place{name, 0};
  return h;
}

void MemoryWriteLayer::close(Handle h) {
  {
    std::lock_guard<std::mutex> guard(lock);
    handles.erase(h);
  }
  lower().close(h);
}

MemoryWriteLayer::Place* MemoryWriteLayer::place(Handle h) {
  std::lock_guard<std::mutex> guard(lock);
  auto found = handles.find(h);
  return found == handles.end() ? nullptr : &found->second;
}

bool MemoryWriteLayer::seek(Handle h, FXulong offset) {
  if (Place* at = place(h)) at->pos = offset;
  return lower().seek(h, offset);
}

bool MemoryWriteLayer::read(Handle h, void* buffer, FXuint length, FXuint& done) {
  bool ok = lower().read(h, buffer, length, done);
  // A handle opened before this layer came in front sees what lies below.
  Place* at = place(h);
  if (!at) return ok;
  if (ok) layOver(at->name, buffer, at->pos, done);
  at->pos += done;
  return ok;
}

bool MemoryWriteLayer::write(Handle h, const void* buffer, FXuint length, FXuint& done) {
  done = 0;
  Place* at = place(h);
  if (!at || at->pos % SECTOR_SIZE != 0 || length % SECTOR_SIZE != 0) return false;
  const FXuchar* bytes = (const FXuchar*)buffer;
  for (FXuint from = 0; from < length; from += SECTOR_SIZE) keep(at->name, at->pos + from, bytes + from);
  done = length;
  at->pos += length;
  return lower().seek(h, at->pos);  // the handle stands where a write would leave it
}

void MemoryWriteLayer::keep(const FXString& device, FXulong offset, const void* sector) {
  KV_TRACE(8, "MemoryWriteLayer: sector %.0lf of %s kept in memory\n", (double)(offset / SECTOR_SIZE),
           device.text());
  std::lock_guard<std::mutex> guard(lock);
  memcpy(written[device][offset / SECTOR_SIZE].data(), sector, SECTOR_SIZE);
}

void MemoryWriteLayer::layOver(const FXString& device, void* buffer, FXulong offset,
                               FXuint length) {
  std::lock_guard<std::mutex> guard(lock);
  auto sectors = written.find(device);
  if (sectors == written.end() || length == 0 || offset > ~(FXulong)0 - length) return;
  FXulong end = offset + length;
  FXuchar* out = (FXuchar*)buffer;
  for (auto s = sectors->second.lower_bound(offset / SECTOR_SIZE);
       s != sectors->second.end() && s->first <= (end - 1) / SECTOR_SIZE; ++s) {
    FXulong first = s->first * SECTOR_SIZE;
    FXulong from = std::max(offset, first), to = std::min(end, first + SECTOR_SIZE);
    memcpy(out + (from - offset), s->second.data() + (from - first), to - from);
  }
}

std::vector<FXulong> MemoryWriteLayer::writtenSectors(const FXString& device) {
  std::lock_guard<std::mutex> guard(lock);
  std::vector<FXulong> numbers;
  auto sectors = written.find(device);
  if (sectors == written.end()) return numbers;
  for (const auto& s : sectors->second) numbers.push_back(s.first);
  return numbers;
}

void MemoryWriteLayer::forget() {
  std::lock_guard<std::mutex> guard(lock);
  written.clear();
}
