// NTFS through libntfs-3g, mounted read-only over device operations of our
// own: the library reads the volume's bytes through our reader, never a
// device path, and every write it might try fails.  The $MFT/$MFTMirr
// comparison is done here, on the raw records, so a volume the library
// refuses still gets its verdict.
// The library's headers lean on these without including them.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "contents/VolumeContents.h"

// The library's headers declare C functions without saying so.
extern "C" {
#include <ntfs-3g/types.h>
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/device.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/logging.h>
#include <ntfs-3g/unistr.h>
#include <ntfs-3g/volume.h>
}
// The library's own min and max would replace the standard library's.
#undef min
#undef max

// The library names its on-disk integer types le16, le32, le64, as the
// engine's byte helpers name their readers, so this unit reads its few
// little-endian fields itself.
namespace ondisk {
FXulong le64(const FXuchar* p) {
  FXulong v = 0;
  for (int i = 7; i >= 0; i--) v = (v << 8) | p[i];
  return v;
}
FXuint le16(const FXuchar* p) { return (FXuint)p[0] | ((FXuint)p[1] << 8); }
}  // namespace ondisk



namespace {

// What a device handle carries: the volume and the position reads go on from.
struct Handle {
  VolumeView* view;
  s64 position;
};

Handle& handleOf(ntfs_device* dev) { return *static_cast<Handle*>(dev->d_private); }

int deviceOpen(ntfs_device* dev, int flags) {
  if ((flags & O_ACCMODE) != O_RDONLY) {
    errno = EROFS;
    return -1;
  }
  NDevSetOpen(dev);
  NDevSetReadOnly(dev);
  return 0;
}

int deviceClose(ntfs_device* dev) {
  NDevClearOpen(dev);
  return 0;
}

s64 deviceSeek(ntfs_device* dev, s64 offset, int whence) {
  Handle& h = handleOf(dev);
  s64 base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? h.position : (s64)h.view->bytes();
  if (base + offset < 0) {
    errno = EINVAL;
    return -1;
  }
  h.position = base + offset;
  return h.position;
}

s64 devicePread(ntfs_device* dev, void* buffer, s64 count, s64 offset) {
  Handle& h = handleOf(dev);
  if (count < 0 || offset < 0) {
    errno = EINVAL;
    return -1;
  }
  // A read that runs past the end returns what lies before it, as a file would.
  FXulong size = h.view->bytes();
  if ((FXulong)offset >= size) return 0;
  if ((FXulong)count > size - offset) count = (s64)(size - offset);
  if (!h.view->readBytes((FXulong)offset, buffer, (size_t)count)) {
    errno = EIO;
    return -1;
  }
  return count;
}

s64 deviceRead(ntfs_device* dev, void* buffer, s64 count) {
  Handle& h = handleOf(dev);
  s64 done = devicePread(dev, buffer, count, h.position);
  if (done > 0) h.position += done;
  return done;
}

s64 refuseWrite(ntfs_device*, const void*, s64) {
  errno = EROFS;
  return -1;
}

s64 refusePwrite(ntfs_device*, const void*, s64, s64) {
  errno = EROFS;
  return -1;
}

int nothingToSync(ntfs_device*) { return 0; }

int deviceStat(ntfs_device* dev, struct stat* st) {
  memset(st, 0, sizeof(*st));
  st->st_mode = S_IFREG | 0444;
  st->st_size = (off_t)handleOf(dev).view->bytes();
  return 0;
}

int noIoctl(ntfs_device*, unsigned long, void*) {
  errno = ENOTTY;
  return -1;
}

ntfs_device_operations viewOperations = {deviceOpen,   deviceClose,   deviceSeek, deviceRead,
                                         refuseWrite,  devicePread,   refusePwrite, nothingToSync,
                                         deviceStat,   noIoctl};

// NTFS times count 100 ns from 1601.
FXlong unixTime(ntfs_time t) {
  const FXlong FROM_1601 = 116444736000000000LL;
  FXlong ticks = (FXlong)sle64_to_cpu(t);
  return ticks < FROM_1601 ? -1 : (ticks - FROM_1601) / 10000000;
}

// How many records $MFTMirr repeats, at most.
const FXuint MIRRORED_RECORDS = 4;

class NtfsContents : public VolumeContents {
public:
  NtfsContents(std::unique_ptr<VolumeView> view, const FXuchar* boot);
  ~NtfsContents() override;
  VolumeSummary summary() override;
  Listing list(const FXString& path, FXuint first, FXuint count) override;
  void mount();

private:
  FXuchar boot[512];
  FXulong clusterBytes = 0, recordBytes = 0;
  Handle handle;
  ntfs_device* device = nullptr;
  ntfs_volume* volume = nullptr;
  int mountError = 0;

  ContentsNote checkMirror();
};

NtfsContents::NtfsContents(std::unique_ptr<VolumeView> v, const FXuchar* bs) : VolumeContents(std::move(v)) {
  memcpy(boot, bs, sizeof(boot));
  FXuint sectorBytes = ondisk::le16(bs + 0x0B), perCluster = bs[0x0D];
  // A count above 0x80 is a negative power of two.
  clusterBytes = perCluster > 0x80 ? (FXulong)sectorBytes << (256 - perCluster) : (FXulong)sectorBytes * perCluster;
  signed char perRecord = (signed char)bs[0x40];
  recordBytes = perRecord < 0 ? (-perRecord < 32 ? 1ULL << -perRecord : 0) : clusterBytes * perRecord;
  handle.view = view.get();
  handle.position = 0;
}

NtfsContents::~NtfsContents() {
  if (volume) {
    ntfs_umount(volume, static_cast<BOOL>(0));  // frees the device as well
  } else if (device) {
    ntfs_device_free(device);
  }
}

void NtfsContents::mount() {
  // The library's complaints would go to the terminal; what matters is
  // said through the notes.
  ntfs_log_set_handler(ntfs_log_handler_null);
  char name[64];
  snprintf(name, sizeof(name), "kelvarin-view:%p", (void*)view.get());
  device = ntfs_device_alloc(name, 0, &viewOperations, &handle);
  if (!device) return;
  volume = ntfs_device_mount(device, NTFS_MNT_RDONLY);
  if (!volume) mountError = errno ? errno : EIO;
}

ContentsNote NtfsContents::checkMirror() {
  if (recordBytes < 512 || recordBytes > 65536 || clusterBytes == 0) return ContentsNote("Contents.Check.008");
  std::vector<FXuchar> mft(MIRRORED_RECORDS * recordBytes), mirror(mft.size());
  if (!view->readBytes(ondisk::le64(boot + 0x30) * clusterBytes, mft.data(), mft.size()) ||
      !view->readBytes(ondisk::le64(boot + 0x38) * clusterBytes, mirror.data(), mirror.size()))
    return ContentsNote("Contents.Check.008");
  for (FXuint r = 0; r < MIRRORED_RECORDS; r++) {
    if (memcmp(mft.data() + r * recordBytes, mirror.data() + r * recordBytes, recordBytes) == 0) continue;
    FXString record;
    record.format("%u", r);
    return ContentsNote("Contents.Check.009", record);
  }
  return ContentsNote();
}

VolumeSummary NtfsContents::summary() {
  VolumeSummary s;
  s.fileSystem = "NTFS";
  s.uuid.format("%016llX", (unsigned long long)ondisk::le64(boot + 0x48));
  s.blockSize = (FXuint)clusterBytes;
  if (volume) {
    if (volume->vol_name) s.label = volume->vol_name;
    s.version.format("%u.%u", volume->major_ver, volume->minor_ver);
    if (ntfs_volume_get_free_space(volume) == 0 && volume->free_clusters <= volume->nr_clusters) {
      s.spaceKnown = true;
      s.freeBytes = (FXulong)volume->free_clusters * volume->cluster_size;
      s.usedBytes = (FXulong)(volume->nr_clusters - volume->free_clusters) * volume->cluster_size;
    }
  }
  s.damage = checkMirror();
  if (!s.damage.set() && !volume) s.damage = ContentsNote("Contents.Open.004", strerror(mountError));
  s.intact = !s.damage.set();
  return s;
}

struct ListWalk {
  ntfs_volume* volume;
  Listing* listing;
  contents::Pager* pager;
  FXulong volumeBytes;
  bool root;
};

// The size and time of one entry on the page.
void readDetails(ListWalk& w, MFT_REF ref, DirEntry& entry) {
  ntfs_inode* inode = ntfs_inode_open(w.volume, MREF(ref));
  if (!inode) {
    contents::addNote(*w.listing, ContentsNote("Contents.List.007", entry.name));
    return;
  }
  entry.modified = unixTime(inode->last_data_change_time);
  if (!entry.folder) {
    ntfs_attr* data = ntfs_attr_open(inode, AT_DATA, AT_UNNAMED, 0);
    if (data) {
      entry.size = (FXulong)data->data_size;
      ntfs_attr_close(data);
    }
    if (entry.size > w.volumeBytes) contents::addNote(*w.listing, ContentsNote("Contents.List.006"));
  }
  ntfs_inode_close(inode);
}

int listEntry(void* data, const ntfschar* name, const int length, const int type, const s64,
              const MFT_REF ref, const unsigned kind) {
  ListWalk& w = *static_cast<ListWalk*>(data);
  // Each long name may have a DOS twin; the system files live in the
  // root's first records.
  if (type == FILE_NAME_DOS || (w.root && MREF(ref) < FILE_first_user)) return 0;
  char* text = nullptr;
  if (ntfs_ucstombs(name, length, &text, 0) < 0 || !text) return 0;
  FXString raw(text);
  free(text);
  if (raw == "." || raw == "..") return 0;
  DirEntry entry;
  bool replaced = false;
  entry.name = contents::printableName(raw, replaced);
  if (replaced) contents::addNote(*w.listing, ContentsNote("Contents.List.003"));
  entry.folder = kind == NTFS_DT_DIR;
  if (w.pager->inPage()) readDetails(w, ref, entry);
  return w.pager->take(entry) ? 0 : -1;
}

Listing NtfsContents::list(const FXString& path, FXuint first, FXuint count) {
  Listing listing;
  if (!volume) {
    contents::addNote(listing, ContentsNote("Contents.Open.004", strerror(mountError)));
    return listing;
  }
  ntfs_inode* folder = ntfs_pathname_to_inode(volume, nullptr, PathParts(path).empty() ? "/" : path.text());
  if (!folder || !(folder->mrec->flags & MFT_RECORD_IS_DIRECTORY)) {
    if (folder) ntfs_inode_close(folder);
    contents::addNote(listing, ContentsNote("Contents.List.001", path));
    return listing;
  }
  listing.found = true;
  contents::Pager pager(listing, first, count);
  ListWalk walk{volume, &listing, &pager, view->bytes(), folder->mft_no == FILE_root};
  s64 position = 0;
  if (ntfs_readdir(folder, &position, &walk, listEntry) != 0 && !listing.more)
    contents::addNote(listing, ContentsNote("Contents.List.008", strerror(errno)));
  ntfs_inode_close(folder);
  return listing;
}

}  // namespace

std::unique_ptr<VolumeContents> OpenNtfsContents(std::unique_ptr<VolumeView> view, VolumeKind,
                                                 ContentsNote& why) {
  FXuchar boot[512];
  if (!view->read(0, boot, sizeof(boot))) {
    why = ContentsNote("Contents.Open.003");
    return nullptr;
  }
  std::unique_ptr<NtfsContents> ntfs(new NtfsContents(std::move(view), boot));
  ntfs->mount();
  return ntfs;
}
