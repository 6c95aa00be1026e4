// The small reading interface the recognisers work through: absolute
// 512-byte sectors of one disk or image, nothing else.  The search's cached
// read context, an image file and a byte vector all offer it.
#ifndef KV_RECOGNISE_SECTORREADER_H
#define KV_RECOGNISE_SECTORREADER_H

#include <fx.h>

#include <vector>

class SectorReader {
public:
  virtual ~SectorReader() {}
  // Reads `bytes` bytes starting at absolute sector `sector`.  False when
  // any of them lies past the end or cannot be read; the buffer's contents
  // are then undefined.
  virtual bool read(FXulong sector, void* buffer, FXuint bytes) = 0;
  // The same for the large sequential blocks of a scan.  A reader with a
  // read-ahead takes them past it; the others just read.
  virtual bool readBlock(FXulong sector, void* buffer, FXuint bytes) { return read(sector, buffer, bytes); }
  // The number of whole sectors there are to read.
  virtual FXulong sectors() = 0;
};

// Whether `bytes` bytes from `sector` on stay within `total` sectors,
// without overflow for any input.
bool fitsIn(FXulong sector, FXuint bytes, FXulong total);

// Sectors held in memory: tests and fuzzing build disks this way.
class MemoryReader : public SectorReader {
public:
  explicit MemoryReader(std::vector<FXuchar> bytes) : data(std::move(bytes)) {}
  bool read(FXulong sector, void* buffer, FXuint bytes) override;
  FXulong sectors() override;
  // The bytes themselves, to damage them in place.
  std::vector<FXuchar>& bytes() { return data; }

private:
  std::vector<FXuchar> data;
};

// An image file, opened read-only.  Only regular files are accepted: a FIFO
// or a character device would block or never end.
class ImageReader : public SectorReader {
public:
  ImageReader() {}
  ~ImageReader() override;
  ImageReader(const ImageReader&) = delete;
  ImageReader& operator=(const ImageReader&) = delete;

  // False when the file cannot be opened or is no regular file.
  bool open(const FXString& path);
  void close();
  bool isOpen() const { return fd >= 0; }

  bool read(FXulong sector, void* buffer, FXuint bytes) override;
  FXulong sectors() override { return count; }

private:
  int fd = -1;
  FXulong count = 0;
};

#endif
