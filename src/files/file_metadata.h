// What a replacement file takes over from the file it replaces: owner,
// group, extended attributes (access control lists among them) and the
// permission bits.
#ifndef BEATSTAMPS_FILE_METADATA_H_
#define BEATSTAMPS_FILE_METADATA_H_

#include <sys/stat.h>

enum class Takeover {
  kAll,     // the replacement looks to everyone as the old file did
  kNotAll,  // owner, group or an attribute could not be given to it
  kFailed,  // its permission bits could not be set (errno says why)
};

// Gives the open file `handle` the metadata of the file at `oldPath`, whose
// status is `old`.
Takeover TakeOverMetadata(const char* oldPath, const struct stat& old, int handle);

#endif  // BEATSTAMPS_FILE_METADATA_H_
