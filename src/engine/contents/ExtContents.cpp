// ext2, ext3 and ext4 through libext2fs, opened read-only over an I/O
// manager of our own: the library sees only the volume's bytes as our
// reader gives them, never a device path, and every write it might try is
// refused.  The journal is left as it is: nothing is replayed.
#include <ext2fs/ext2_fs.h>
#include <ext2fs/ext2fs.h>
#include <et/com_err.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "contents/VolumeContents.h"
#include "recognise/OnDisk.h"

namespace {

// The volume a channel reads, found again from the name the channel was
// opened with.
VolumeView* viewOf(io_channel channel) { return static_cast<VolumeView*>(channel->private_data); }

errcode_t viewOpen(const char* name, int flags, io_channel* channel);

errcode_t viewClose(io_channel channel) {
  if (--channel->refcount > 0) return 0;
  free(channel->name);
  free(channel);
  return 0;
}

errcode_t viewSetBlockSize(io_channel channel, int size) {
  channel->block_size = size;
  return 0;
}

errcode_t viewRead64(io_channel channel, unsigned long long block, int count, void* data) {
  // A negative count is a byte count, as the library's own managers take it.
  size_t bytes = count < 0 ? (size_t)-(long)count : (size_t)count * channel->block_size;
  FXulong offset = (FXulong)block * channel->block_size;
  if (!viewOf(channel)->readBytes(offset, data, bytes)) {
    memset(data, 0, bytes);
    return EXT2_ET_SHORT_READ;
  }
  return 0;
}

errcode_t viewRead(io_channel channel, unsigned long block, int count, void* data) {
  return viewRead64(channel, block, count, data);
}

errcode_t refuseWrite(io_channel, unsigned long, int, const void*) { return EXT2_ET_RO_FILSYS; }
errcode_t refuseWrite64(io_channel, unsigned long long, int, const void*) { return EXT2_ET_RO_FILSYS; }
errcode_t refuseWriteByte(io_channel, unsigned long, int, const void*) { return EXT2_ET_RO_FILSYS; }
errcode_t refuseRange(io_channel, unsigned long long, unsigned long long) { return EXT2_ET_RO_FILSYS; }
errcode_t nothingToFlush(io_channel) { return 0; }
errcode_t noOptions(io_channel, const char*, const char*) { return EXT2_ET_INVALID_ARGUMENT; }

struct struct_io_manager viewManager = [] {
  struct struct_io_manager m;
  memset(&m, 0, sizeof(m));
  m.magic = EXT2_ET_MAGIC_IO_MANAGER;
  m.name = "Kelvarin read-only volume";
  m.open = viewOpen;
  m.close = viewClose;
  m.set_blksize = viewSetBlockSize;
  m.read_blk = viewRead;
  m.write_blk = refuseWrite;
  m.flush = nothingToFlush;
  m.write_byte = refuseWriteByte;
  m.set_option = noOptions;
  m.read_blk64 = viewRead64;
  m.write_blk64 = refuseWrite64;
  m.discard = refuseRange;
  m.zeroout = refuseRange;
  return m;
}();

// The name is the view's address: the library passes it on unchanged.
errcode_t viewOpen(const char* name, int flags, io_channel* channel) {
  void* view = nullptr;
  if (!name || sscanf(name, "kelvarin-view:%p", &view) != 1 || !view) return EXT2_ET_BAD_DEVICE_NAME;
  if (flags & IO_FLAG_RW) return EXT2_ET_RO_FILSYS;
  io_channel c = static_cast<io_channel>(calloc(1, sizeof(*c)));
  if (!c) return EXT2_ET_NO_MEMORY;
  c->magic = EXT2_ET_MAGIC_IO_CHANNEL;
  c->manager = &viewManager;
  c->name = strdup(name);
  c->block_size = 1024;
  c->refcount = 1;
  c->private_data = view;
  *channel = c;
  return 0;
}

FXString errorText(errcode_t error) { return error_message(error); }

// At most this many in-use inodes are checked, so a large volume's summary
// stays quick.
const ext2_ino_t INODES_CHECKED = 8192;

class ExtContents : public VolumeContents {
public:
  ExtContents(std::unique_ptr<VolumeView> view, VolumeKind kind) : VolumeContents(std::move(view)), kind(kind) {}
  ~ExtContents() override {
    if (fs) ext2fs_close_free(&fs);
  }
  errcode_t open();
  VolumeSummary summary() override;
  Listing list(const FXString& path, FXuint first, FXuint count) override;

private:
  VolumeKind kind;
  ext2_filsys fs = nullptr;

  ContentsNote checkGroups();
  ContentsNote checkInode(ext2_ino_t ino);
  ContentsNote checkInodes();
  bool folderAt(const FXString& path, ext2_ino_t& ino);
};

errcode_t ExtContents::open() {
  char name[64];
  snprintf(name, sizeof(name), "kelvarin-view:%p", (void*)view.get());
  // Without EXT2_FLAG_RW the library never writes; checksum faults are
  // found by the checks below instead of refusing the whole volume.
  int flags = EXT2_FLAG_64BITS | EXT2_FLAG_IGNORE_CSUM_ERRORS;
  return ext2fs_open2(name, nullptr, flags, 0, 0, &viewManager, &fs);
}

ContentsNote ExtContents::checkGroups() {
  if (ext2fs_check_desc(fs) != 0) return ContentsNote("Contents.Check.005");
  if (!ext2fs_has_group_desc_csum(fs)) return ContentsNote();
  for (dgrp_t g = 0; g < fs->group_desc_count; g++) {
    if (!ext2fs_group_desc_csum_verify(fs, g)) {
      FXString group;
      group.format("%u", g);
      return ContentsNote("Contents.Check.006", group);
    }
  }
  return ContentsNote();
}

// An inode in use must have a type and a link, and its checksum must hold.
ContentsNote ExtContents::checkInode(ext2_ino_t ino) {
  std::vector<char> buffer(EXT2_INODE_SIZE(fs->super));
  ext2_inode_large* inode = reinterpret_cast<ext2_inode_large*>(buffer.data());
  FXString number;
  number.format("%u", ino);
  if (ext2fs_read_inode_full(fs, ino, reinterpret_cast<ext2_inode*>(inode), buffer.size()) != 0 ||
      inode->i_mode == 0 || inode->i_links_count == 0)
    return ContentsNote("Contents.Check.007", number);
  if (ext2fs_has_feature_metadata_csum(fs->super) && !ext2fs_inode_csum_verify(fs, ino, inode))
    return ContentsNote("Contents.Check.007", number);
  return ContentsNote();
}

ContentsNote ExtContents::checkInodes() {
  ContentsNote root = checkInode(EXT2_ROOT_INO);
  if (root.set()) return root;
  if (ext2fs_read_inode_bitmap(fs) != 0) return ContentsNote("Contents.Check.005");
  ext2_ino_t last = fs->super->s_inodes_count;
  ext2_ino_t firstIno = EXT2_FIRST_INODE(fs->super);
  if (last - firstIno > INODES_CHECKED) last = firstIno + INODES_CHECKED;
  for (ext2_ino_t ino = firstIno; ino <= last; ino++) {
    if (!ext2fs_test_inode_bitmap2(fs->inode_map, ino)) continue;
    ContentsNote fault = checkInode(ino);
    if (fault.set()) return fault;
  }
  return ContentsNote();
}

VolumeSummary ExtContents::summary() {
  VolumeSummary s;
  ext2_super_block* sb = fs->super;
  s.fileSystem = volumeKindName(kind);
  s.label = ondisk::asciiField(reinterpret_cast<const FXuchar*>(sb->s_volume_name), sizeof(sb->s_volume_name));
  s.uuid = ondisk::uuidText(sb->s_uuid);
  s.version.format("%u.%u", sb->s_rev_level, sb->s_minor_rev_level);
  s.blockSize = fs->blocksize;
  FXulong blocks = ext2fs_blocks_count(sb), free = ext2fs_free_blocks_count(sb);
  if (free <= blocks) {
    s.spaceKnown = true;
    s.freeBytes = free * fs->blocksize;
    s.usedBytes = (blocks - free) * fs->blocksize;
  }
  s.damage = checkGroups();
  if (!s.damage.set()) s.damage = checkInodes();
  s.intact = !s.damage.set();
  return s;
}

struct ListWalk {
  ext2_filsys fs;
  Listing* listing;
  contents::Pager* pager;
  FXulong volumeBytes;
};

int listEntry(ext2_ino_t, int, ext2_dir_entry* dirent, int, int, char*, void* data) {
  ListWalk& w = *static_cast<ListWalk*>(data);
  int length = ext2fs_dirent_name_len(dirent);
  FXString raw(dirent->name, length);
  if (raw == "." || raw == ".." || dirent->inode == 0) return 0;
  DirEntry entry;
  bool replaced = false;
  entry.name = contents::printableName(raw, replaced);
  if (replaced) contents::addNote(*w.listing, ContentsNote("Contents.List.003"));
  entry.folder = ext2fs_dirent_file_type(dirent) == EXT2_FT_DIR;
  if (w.pager->inPage()) {
    ext2_inode inode;
    if (ext2fs_read_inode(w.fs, dirent->inode, &inode) == 0) {
      entry.folder = LINUX_S_ISDIR(inode.i_mode);
      entry.size = entry.folder ? 0 : EXT2_I_SIZE(&inode);
      entry.modified = (FXlong)(FXint)inode.i_mtime;
      if (entry.size > w.volumeBytes) contents::addNote(*w.listing, ContentsNote("Contents.List.006"));
    } else {
      contents::addNote(*w.listing, ContentsNote("Contents.List.007", raw));
    }
  }
  return w.pager->take(entry) ? 0 : DIRENT_ABORT;
}

bool ExtContents::folderAt(const FXString& path, ext2_ino_t& ino) {
  ino = EXT2_ROOT_INO;
  for (const FXString& part : PathParts(path)) {
    ext2_ino_t next;
    if (ext2fs_lookup(fs, ino, part.text(), part.length(), nullptr, &next) != 0) return false;
    ino = next;
  }
  return true;
}

Listing ExtContents::list(const FXString& path, FXuint first, FXuint count) {
  Listing listing;
  contents::Pager pager(listing, first, count);
  ListWalk walk{fs, &listing, &pager, view->bytes()};
  ext2_ino_t ino;
  errcode_t error = EXT2_ET_NO_DIRECTORY;
  if (folderAt(path, ino)) error = ext2fs_dir_iterate2(fs, ino, 0, nullptr, listEntry, &walk);
  if (error == EXT2_ET_NO_DIRECTORY) {
    contents::addNote(listing, ContentsNote("Contents.List.001", path));
    return listing;
  }
  listing.found = true;
  if (error) contents::addNote(listing, ContentsNote("Contents.List.008", errorText(error)));
  return listing;
}

}  // namespace

std::unique_ptr<VolumeContents> OpenExtContents(std::unique_ptr<VolumeView> view, VolumeKind kind,
                                                ContentsNote& why) {
  std::unique_ptr<ExtContents> ext(new ExtContents(std::move(view), kind));
  errcode_t error = ext->open();
  if (error) {
    why = ContentsNote("Contents.Open.004", errorText(error));
    return nullptr;
  }
  return ext;
}
