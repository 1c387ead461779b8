#include "files/file_metadata.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/limits.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// With the set-user-ID, set-group-ID and sticky bits.
constexpr mode_t kAllModeBits = 07777;
constexpr mode_t kSetIdBits = 06000;
constexpr char kAccessList[] = "system.posix_acl_access";
constexpr char kCapability[] = "security.capability";
// The file flags a user may set and a replacement keeps; immutable and
// append-only files are never replaced.
constexpr int kKeptFlags = static_cast<int>(
    (FS_FL_USER_MODIFIABLE | FS_NOCOW_FL | FS_JOURNAL_DATA_FL) & ~(FS_IMMUTABLE_FL | FS_APPEND_FL));

bool NoAttributes(int error) {
  return error == ENOTSUP || error == ENODATA;
}

// Copies every extended attribute the old file shows us but the capability,
// which the first write would take again; false when one could not be read
// or set.
bool CopyAttributes(const char* oldPath, int handle) {
  char names[XATTR_LIST_MAX];
  const ssize_t length = listxattr(oldPath, names, sizeof names);
  // A file system without attributes has none to lose.
  if (length < 0) return errno == ENOTSUP;
  char value[XATTR_SIZE_MAX];
  for (const char* name = names; name < names + length; name += std::strlen(name) + 1) {
    if (std::strcmp(name, kCapability) == 0) continue;
    const ssize_t size = getxattr(oldPath, name, value, sizeof value);
    if (size < 0 || fsetxattr(handle, name, value, static_cast<size_t>(size), 0) != 0) {
      return false;
    }
  }
  return true;
}

// A new file in a folder with a default access control list is born with
// one; the replacement of a file that had none must not keep it.
bool DropInheritedAccessList(const char* oldPath, int handle) {
  if (getxattr(oldPath, kAccessList, nullptr, 0) >= 0 || !NoAttributes(errno)) return true;
  return fremovexattr(handle, kAccessList) == 0 || NoAttributes(errno);
}

// The old file's flags, or 0 where the file system keeps none.
bool ReadFlags(const char* oldPath, int& flags) {
  flags = 0;
  int old = open(oldPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (old < 0) old = open(oldPath, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (old < 0) return false;
  const bool read = ioctl(old, FS_IOC_GETFLAGS, &flags) == 0;
  const int error = errno;
  close(old);
  if (read) return true;
  flags = 0;
  return error == ENOTTY || error == EINVAL || error == EOPNOTSUPP;
}

bool CopyFlags(const char* oldPath, int handle) {
  int old = 0;
  if (!ReadFlags(oldPath, old)) return false;
  int flags = 0;
  if (ioctl(handle, FS_IOC_GETFLAGS, &flags) != 0) return (old & kKeptFlags) == 0;
  const int wanted = (flags & ~kKeptFlags) | (old & kKeptFlags);
  return wanted == flags || ioctl(handle, FS_IOC_SETFLAGS, &wanted) == 0;
}

// Some file systems refuse a mode change yet give new files the same mode.
bool SetMode(int handle, mode_t mode) {
  if (fchmod(handle, mode) == 0) return true;
  const int failure = errno;
  struct stat info {};
  if (fstat(handle, &info) == 0 && (info.st_mode & kAllModeBits) == mode) return true;
  errno = failure;
  return false;
}

}  // namespace

Takeover TakeOverMetadata(const char* oldPath, const struct stat& old, int handle) {
  // The owner first: a change of owner clears attributes, which are copied
  // after it.
  if (fchown(handle, old.st_uid, old.st_gid) != 0 || !CopyAttributes(oldPath, handle) ||
      !DropInheritedAccessList(oldPath, handle) || !CopyFlags(oldPath, handle)) {
    return Takeover::kNotAll;
  }
  // The set-ID bits come with the privileges, after the bytes.
  return SetMode(handle, old.st_mode & kAllModeBits & ~kSetIdBits) ? Takeover::kAll
                                                                   : Takeover::kFailed;
}

bool ReadPrivileges(const char* path, const struct stat& status, Privileges& privileges) {
  privileges.mode = status.st_mode & kAllModeBits;
  privileges.capabilityLength = 0;
  const ssize_t length =
      getxattr(path, kCapability, privileges.capability, sizeof privileges.capability);
  if (length >= 0) privileges.capabilityLength = static_cast<size_t>(length);
  return length >= 0 || NoAttributes(errno);
}

bool GivePrivileges(const Privileges& privileges, int handle) {
  if ((privileges.mode & kSetIdBits) != 0) {
    // The kernel may drop a set-group-ID bit without saying so.
    struct stat info {};
    if (!SetMode(handle, privileges.mode) || fstat(handle, &info) != 0 ||
        (info.st_mode & kAllModeBits) != privileges.mode) {
      return false;
    }
  }
  if (privileges.capabilityLength == 0) return true;
  return fsetxattr(handle, kCapability, privileges.capability, privileges.capabilityLength, 0) == 0;
}
