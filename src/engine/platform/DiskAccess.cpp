#include "platform/DiskAccess.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>

static LinuxDiskAccess linuxAccess;
static DiskAccess* installed = &linuxAccess;

DiskAccess& DiskAccess::current() { return *installed; }

DiskAccess* DiskAccess::install(DiskAccess* access) {
  DiskAccess* previous = installed;
  installed = access ? access : &linuxAccess;
  return previous;
}

// ---------------------------------------------------------------------------

static thread_local FXuint lastErrno = 0;
static std::mutex positionsLock;  // the search thread and the GUI thread both open handles
static FXString sysRoot = "/sys";

void LinuxDiskAccess::setSysRoot(const FXString& root) { sysRoot = root; }

static bool isBlockDevice(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 && S_ISBLK(st.st_mode);
}

DiskAccess::Handle LinuxDiskAccess::open(const FXString& name, bool write, bool sequential) {
  // Opening a FIFO for reading would wait for a writer: the file is opened
  // without waiting, looked at, and only then made a blocking handle.
  int fd = ::open(name.text(), (write ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    lastErrno = errno;
    return INVALID;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))) {
    // A directory, a pipe or a character device is not a disk.
    lastErrno = ENOTBLK;
    ::close(fd);
    return INVALID;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (sequential) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  std::lock_guard<std::mutex> guard(positionsLock);
  if ((size_t)fd >= positions.size()) positions.resize(fd + 1);
  positions[fd] = 0;
  return fd;
}

void LinuxDiskAccess::close(Handle h) {
  if (h >= 0) ::close(h);
}

bool LinuxDiskAccess::writable(const FXString& name) {
  if (faccessat(AT_FDCWD, name.text(), W_OK, AT_EACCESS) != 0) {
    lastErrno = errno;
    return false;
  }
  // A write-protected block device passes the permission test.
  int fd = ::open(name.text(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    lastErrno = errno;
    return false;
  }
  int readOnly = 0;
  bool ok = !(isBlockDevice(fd) && ioctl(fd, BLKROGET, &readOnly) == 0 && readOnly != 0);
  ::close(fd);
  if (!ok) lastErrno = EROFS;
  return ok;
}

bool LinuxDiskAccess::seek(Handle h, FXulong offset) {
  if (h < 0 || offset > (FXulong)INT64_MAX) {
    lastErrno = EINVAL;
    return false;
  }
  std::lock_guard<std::mutex> guard(positionsLock);
  positions[h] = offset;
  return true;
}

bool LinuxDiskAccess::read(Handle h, void* buffer, FXuint length, FXuint& done) {
  done = 0;
  FXulong pos;
  {
    std::lock_guard<std::mutex> guard(positionsLock);
    pos = positions[h];
  }
  while (done < length) {
    ssize_t n = ::pread(h, (char*)buffer + done, length - done, (off_t)(pos + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      lastErrno = errno;
      return false;
    }
    if (n == 0) break;  // end of the device
    done += (FXuint)n;
  }
  std::lock_guard<std::mutex> guard(positionsLock);
  positions[h] = pos + done;
  return true;
}

bool LinuxDiskAccess::write(Handle h, const void* buffer, FXuint length, FXuint& done) {
  done = 0;
  FXulong pos;
  {
    std::lock_guard<std::mutex> guard(positionsLock);
    pos = positions[h];
  }
  while (done < length) {
    ssize_t n = ::pwrite(h, (const char*)buffer + done, length - done, (off_t)(pos + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      lastErrno = errno;
      return false;
    }
    if (n == 0) {
      lastErrno = ENOSPC;
      return false;
    }
    done += (FXuint)n;
  }
  std::lock_guard<std::mutex> guard(positionsLock);
  positions[h] = pos + done;
  return true;
}

bool LinuxDiskAccess::flush(Handle h) {
  if (fsync(h) != 0) {
    lastErrno = errno;
    return false;
  }
  return true;
}

bool LinuxDiskAccess::size(Handle h, FXulong& bytes) {
  struct stat st;
  if (fstat(h, &st) != 0) {
    lastErrno = errno;
    return false;
  }
  if (S_ISREG(st.st_mode)) {
    bytes = (FXulong)st.st_size;
    return true;
  }
  uint64_t devBytes = 0;
  if (S_ISBLK(st.st_mode) && ioctl(h, BLKGETSIZE64, &devBytes) == 0) {
    bytes = devBytes;
    return true;
  }
  lastErrno = errno ? errno : EINVAL;
  return false;
}

FXuint LinuxDiskAccess::sectorSize(Handle h) {
  int ssz = 512;
  if (isBlockDevice(h) && ioctl(h, BLKSSZGET, &ssz) != 0) ssz = 512;
  return (FXuint)ssz;
}

// Reads a one-line sysfs attribute without its trailing white space.
static FXString sysAttribute(const FXString& path) {
  FXString text;
  int fd = ::open(path.text(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char buffer[256];
  ssize_t n = ::read(fd, buffer, sizeof(buffer) - 1);
  ::close(fd);
  if (n <= 0) return text;
  while (n > 0 && isspace((unsigned char)buffer[n - 1])) n--;
  text.assign(buffer, (FXint)n);
  return text;
}

static FXString baseName(const FXString& name) { return FXPath::name(name); }

bool LinuxDiskAccess::identity(const FXString& name, Identity& id) {
  FXString block = sysRoot + "/class/block/" + baseName(name);
  if (!FXStat::exists(block)) return false;  // not a block device known to the system
  id.vendor = sysAttribute(block + "/device/vendor");
  id.product = sysAttribute(block + "/device/model");
  id.revision = sysAttribute(block + "/device/rev");
  if (id.product.empty()) {
    id.product = FXStat::exists(block + "/loop") ? FXString("Loop device") : baseName(name);
  }
  return true;
}

bool LinuxDiskAccess::geometry(Handle h, CHS& logical) {
  struct hd_geometry geo;
  memset(&geo, 0, sizeof(geo));
  if (!isBlockDevice(h) || ioctl(h, HDIO_GETGEO, &geo) != 0 || geo.heads == 0 ||
      geo.sectors == 0) {
    lastErrno = errno ? errno : ENOTTY;
    return false;
  }
  FXulong bytes = 0;
  size(h, bytes);
  // hd_geometry's cylinder field is 16 bits wide: work the count out from the size.
  logical = CHS(bytes / SECTOR_SIZE / ((FXulong)geo.heads * geo.sectors), geo.heads, geo.sectors);
  return true;
}

bool LinuxDiskAccess::rereadTable(Handle h) {
  if (!isBlockDevice(h)) return true;  // an image file has no system view to refresh
  if (ioctl(h, BLKRRPART) != 0) {
    lastErrno = errno;
    return false;
  }
  return true;
}

// Natural order: sda, sdb, ..., loop2, loop10.
static bool naturalLess(const FXString& a, const FXString& b) {
  const char *p = a.text(), *q = b.text();
  while (*p && *q) {
    if (isdigit((unsigned char)*p) && isdigit((unsigned char)*q)) {
      unsigned long x = strtoul(p, (char**)&p, 10), y = strtoul(q, (char**)&q, 10);
      if (x != y) return x < y;
    } else {
      if (*p != *q) return (unsigned char)*p < (unsigned char)*q;
      p++, q++;
    }
  }
  return *p == 0 && *q != 0;
}

std::vector<FXString> LinuxDiskAccess::listDisks() {
  std::vector<FXString> names;
  FXString blockDir = sysRoot + "/block";
  DIR* dir = opendir(blockDir.text());
  if (!dir) return names;
  while (struct dirent* e = readdir(dir)) {
    FXString n = e->d_name;
    if (n == "." || n == "..") continue;
    if (n.find("ram") == 0 || n.find("zram") == 0) continue;  // memory, not disks
    FXString sizeText = sysAttribute(blockDir + "/" + n + "/size");
    if (sizeText.empty() || strtoull(sizeText.text(), nullptr, 10) == 0) continue;
    if (FXStat::exists(blockDir + "/" + n + "/partition")) continue;
    names.push_back(n);
  }
  closedir(dir);
  std::sort(names.begin(), names.end(), naturalLess);
  for (auto& n : names) n = "/dev/" + n;
  return names;
}

FXuint LinuxDiskAccess::logicalDriveMask() { return 0; }

FXuint LinuxDiskAccess::lastError() { return lastErrno; }
