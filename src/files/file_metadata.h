// What a replacement file takes over from the file it replaces: owner,
// group, extended attributes, exactly its access control list (none where it
// had none), its file flags and its permission bits; and, once its bytes are
// written, the set-user-ID and set-group-ID bits and the file capability,
// which writing to a file takes from it.
#ifndef BEATSTAMPS_FILE_METADATA_H_
#define BEATSTAMPS_FILE_METADATA_H_

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>

enum class Takeover {
  kAll,     // the replacement looks to everyone as the old file did
  kNotAll,  // owner, group, an attribute or a flag could not be given to it
  kFailed,  // its permission bits could not be set (errno says why)
};

// What a write takes from a file: its set-ID bits and its capability.
struct Privileges {
  mode_t mode;  // the whole permission bits, set-ID bits among them
  uint8_t capability[64];
  size_t capabilityLength;  // 0: the file has none
};

// Gives the open, still empty file `handle` the metadata of the file at
// `oldPath`, whose status is `old`, all but the privileges.
Takeover TakeOverMetadata(const char* oldPath, const struct stat& old, int handle);

// Reads the privileges of the file at `path`, whose status is `status`;
// false when its capability could not be read.
bool ReadPrivileges(const char* path, const struct stat& status, Privileges& privileges);

// Gives the file `handle`, whose bytes are written, the privileges; false
// when it could not take them.
bool GivePrivileges(const Privileges& privileges, int handle);

#endif  // BEATSTAMPS_FILE_METADATA_H_
