// Reading one disk for a scan: the read-ahead of IOSystem opened for the
// scope of one object, and a SectorReader over it that the search, the
// recognisers and the extended-chain walker are handed.  Every read goes
// through the engine's I/O, so under -usebackup the stored layout is read
// and under -sim what the simulation wrote is seen.
#ifndef KV_READCONTEXT_H
#define KV_READCONTEXT_H

#include <fx.h>

#include "recognise/SectorReader.h"

// The disk the read context is open on.  Small reads (a probe's sectors, a
// table) are served by the read-ahead; a scan's large sequential blocks go
// straight into the caller's buffer, so they neither pass through the
// read-ahead nor push out what the probes read.
class DiskReader : public SectorReader {
public:
  explicit DiskReader(FXulong sectors) : count(sectors) {}
  bool read(FXulong sector, void* buffer, FXuint bytes) override;
  bool readBlock(FXulong sector, void* buffer, FXuint bytes) override;
  FXulong sectors() override { return count; }

private:
  FXulong count;
};

// Opens the read-ahead on a device when made and closes it when it goes:
// there is one read context at a time, and it must not outlive its scope.
class ReadContext {
public:
  ReadContext(const FXString& device, FXulong sectors);
  ~ReadContext();
  ReadContext(const ReadContext&) = delete;
  ReadContext& operator=(const ReadContext&) = delete;

  // False when the device could not be opened: nothing can be read then.
  bool isOpen() const { return open; }
  // Closes the device and opens it afresh, as after a read error; false when
  // it cannot be opened again.
  bool reopen();
  SectorReader& reader() { return disk; }

private:
  FXString device;
  DiskReader disk;
  bool open;
};

#endif
