#include "ReadContext.h"

#include "IOSystem.h"
#include "compat/Assert.h"

bool DiskReader::read(FXulong sector, void* buffer, FXuint bytes) {
  return fitsIn(sector, bytes, count) && IOSystem::Read(sector, buffer, bytes);
}

bool DiskReader::readBlock(FXulong sector, void* buffer, FXuint bytes) {
  return fitsIn(sector, bytes, count) && IOSystem::ReadDirect(sector, buffer, bytes);
}

ReadContext::ReadContext(const FXString& device, FXulong sectors)
    : device(device), disk(sectors), open(IOSystem::PrepareRead(device, sectors)) {
  if (!open) KV_TRACE(8, "ReadContext: cannot open %s for reading\n", device.text());
}

ReadContext::~ReadContext() {
  if (open) IOSystem::CloseRead();
}

bool ReadContext::reopen() {
  if (open) IOSystem::CloseRead();
  open = IOSystem::PrepareRead(device, disk.sectors());
  return open;
}
