#include "recognise/SectorReader.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "Records.h"

bool fitsIn(FXulong sector, FXuint bytes, FXulong total) {
  if (sector > total) return false;
  FXulong room = total - sector;
  return (FXulong)bytes <= room * SECTOR_SIZE || room > ~0ull / SECTOR_SIZE;
}

bool MemoryReader::read(FXulong sector, void* buffer, FXuint bytes) {
  if (!fitsIn(sector, bytes, sectors())) return false;
  memcpy(buffer, data.data() + sector * SECTOR_SIZE, bytes);
  return true;
}

FXulong MemoryReader::sectors() { return data.size() / SECTOR_SIZE; }

ImageReader::~ImageReader() { close(); }

bool ImageReader::open(const FXString& path) {
  close();
  // O_NONBLOCK keeps the open itself from waiting on a FIFO without a writer.
  int h = ::open(path.text(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (h < 0) return false;
  struct stat st;
  if (fstat(h, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(h);
    return false;
  }
  fcntl(h, F_SETFL, fcntl(h, F_GETFL) & ~O_NONBLOCK);
  fd = h;
  count = (FXulong)st.st_size / SECTOR_SIZE;
  return true;
}

void ImageReader::close() {
  if (fd >= 0) ::close(fd);
  fd = -1;
  count = 0;
}

bool ImageReader::read(FXulong sector, void* buffer, FXuint bytes) {
  if (fd < 0 || !fitsIn(sector, bytes, count)) return false;
  FXuchar* to = (FXuchar*)buffer;
  off_t at = (off_t)(sector * SECTOR_SIZE);
  while (bytes > 0) {
    ssize_t n = pread(fd, to, bytes, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // an error, or the file shrank under us
    to += n;
    at += n;
    bytes -= (FXuint)n;
  }
  return true;
}
