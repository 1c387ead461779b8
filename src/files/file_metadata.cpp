#include "files/file_metadata.h"

#include <linux/limits.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// With the set-user-ID, set-group-ID and sticky bits.
constexpr mode_t kAllModeBits = 07777;

// Copies every extended attribute the old file shows us; false when one
// could not be read or set.
bool CopyAttributes(const char* oldPath, int handle) {
  char names[XATTR_LIST_MAX];
  const ssize_t length = listxattr(oldPath, names, sizeof names);
  // A file system without attributes has none to lose.
  if (length < 0) return errno == ENOTSUP;
  char value[XATTR_SIZE_MAX];
  for (const char* name = names; name < names + length; name += std::strlen(name) + 1) {
    const ssize_t size = getxattr(oldPath, name, value, sizeof value);
    if (size < 0 || fsetxattr(handle, name, value, static_cast<size_t>(size), 0) != 0) {
      return false;
    }
  }
  return true;
}

// Some file systems refuse a mode change yet give new files the same mode.
bool HasMode(int handle, mode_t mode) {
  struct stat info {};
  return fstat(handle, &info) == 0 && (info.st_mode & kAllModeBits) == mode;
}

}  // namespace

Takeover TakeOverMetadata(const char* oldPath, const struct stat& old, int handle) {
  // The owner first: a change of owner clears attributes such as file
  // capabilities, which are copied after it.
  if (fchown(handle, old.st_uid, old.st_gid) != 0 || !CopyAttributes(oldPath, handle)) {
    return Takeover::kNotAll;
  }
  const mode_t mode = old.st_mode & kAllModeBits;
  if (fchmod(handle, mode) == 0) return Takeover::kAll;
  const int failure = errno;
  if (HasMode(handle, mode)) return Takeover::kAll;
  errno = failure;
  return Takeover::kFailed;
}
