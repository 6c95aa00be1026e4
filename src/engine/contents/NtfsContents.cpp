// NTFS, not yet listed.
#include "contents/VolumeContents.h"

std::unique_ptr<VolumeContents> OpenNtfsContents(std::unique_ptr<VolumeView>, VolumeKind kind,
                                                 ContentsNote& why) {
  why = ContentsNote("Contents.Open.002", volumeKindName(kind));
  return nullptr;
}
