#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kNoHandle = -1;
// The permission bits with set-user-ID, set-group-ID and sticky.
constexpr mode_t kAllModeBits = 07777;
constexpr mode_t kPermissionBits = 0777;
// What fopen gives a new file before the umask.
constexpr mode_t kNewFileBits = 0666;

void Reset(OutputFile& file, OutputMode mode) {
  file.stream = nullptr;
  file.mode = mode;
  file.viaTemporary = false;
  file.createdNew = false;
  file.appendHandle = kNoHandle;
  file.sizeBefore = 0;
  file.target[0] = '\0';
  file.temporary[0] = '\0';
}

bool CopyPath(const char* path, char* into) {
  if (std::strlen(path) < PATH_MAX) {
    std::memcpy(into, path, std::strlen(path) + 1);
    return true;
  }
  errno = ENAMETOOLONG;
  return false;
}

bool IsRegular(int handle) {
  struct stat info {};
  return fstat(handle, &info) == 0 && S_ISREG(info.st_mode);
}

bool IsSymbolicLink(const char* name) {
  struct stat info {};
  return lstat(name, &info) == 0 && S_ISLNK(info.st_mode);
}

// Pipes and devices cannot be synced, and need not be.
bool FlushToDisk(FILE* stream) {
  if (std::fflush(stream) != 0) return false;
  const int handle = fileno(stream);
  return !IsRegular(handle) || fsync(handle) == 0;
}

// Closes the stream; true when it flushed and closed cleanly.
bool FlushAndClose(OutputFile& file) {
  const bool flushed = FlushToDisk(file.stream);
  const bool closed = std::fclose(file.stream) == 0;
  file.stream = nullptr;
  return flushed && closed;
}

// Removes a file without losing the errno of the failure that led here.
void RemoveQuietly(const char* path) {
  const int failure = errno;
  unlink(path);
  errno = failure;
}

// Replacing in place: a device, a pipe, a file with other hard links (a new
// file would part it from them), a file in a folder that takes no new files
// or keeps it from being replaced, or a dangling link (nothing to damage).

bool OpenInPlace(const char* name, OutputFile& file) {
  file.stream = std::fopen(name, "w");
  return file.stream != nullptr;
}

// Replacing through a temporary file beside the target.

// The folder part of `path` with its slash ("music/"), or "./".
void FolderOf(const char* path, char* folder) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) {
    std::memcpy(folder, "./", 3);
    return;
  }
  const size_t length = static_cast<size_t>(slash - path) + 1;
  std::memcpy(folder, path, length);
  folder[length] = '\0';
}

// "<target's folder>/.beatstamps-XXXXXX": short, so that a long file name
// still leaves room for it.
bool TemporaryPattern(const char* target, char* pattern) {
  constexpr char kName[] = ".beatstamps-XXXXXX";
  FolderOf(target, pattern);
  const size_t length = std::strlen(pattern);
  if (length + sizeof kName > PATH_MAX) {
    errno = ENAMETOOLONG;
    return false;
  }
  std::memcpy(pattern + length, kName, sizeof kName);
  return true;
}

// In a sticky folder such as /tmp only the owner of a file or of the folder
// may rename another file onto it.
bool StickyFolderKeepsItFromUs(const char* target, const struct stat& file) {
  const uid_t user = geteuid();
  if (user == 0 || file.st_uid == user) return false;
  char folderName[PATH_MAX];
  FolderOf(target, folderName);
  struct stat folder {};
  return stat(folderName, &folder) == 0 && (folder.st_mode & S_ISVTX) != 0 && folder.st_uid != user;
}

mode_t NewFilePermissions() {
  const mode_t mask = umask(0);
  umask(mask);
  return kNewFileBits & ~mask;
}

// The replacement keeps the old file's owner where the system lets it, and
// its permission bits; the set-ID bits only when the owner could be kept.
bool TakeOverPermissions(int handle, const struct stat* old) {
  if (old == nullptr) return fchmod(handle, NewFilePermissions()) == 0;
  const bool sameOwner = fchown(handle, old->st_uid, old->st_gid) == 0;
  return fchmod(handle, old->st_mode & (sameOwner ? kAllModeBits : kPermissionBits)) == 0;
}

// `old` is the target's status, or null for a new file.
bool OpenTemporary(OutputFile& file, const struct stat* old) {
  if (!TemporaryPattern(file.target, file.temporary)) return false;
  const int handle = mkstemp(file.temporary);
  if (handle < 0) return false;
  if (TakeOverPermissions(handle, old)) file.stream = fdopen(handle, "w");
  if (file.stream == nullptr) {
    const int failure = errno;
    close(handle);
    errno = failure;
    RemoveQuietly(file.temporary);
    return false;
  }
  file.viaTemporary = true;
  return true;
}

// A folder without write permission cannot hold the temporary file, yet its
// files may still be writable.
bool FolderRefusesNewFiles(int error) {
  return error == EACCES || error == EPERM;
}

bool OpenReplace(const char* name, OutputFile& file) {
  struct stat info {};
  if (stat(name, &info) != 0) {
    // Unreadable paths fail in place just as before.
    if (errno != ENOENT || IsSymbolicLink(name)) return OpenInPlace(name, file);
    if (!CopyPath(name, file.target)) return false;
    return OpenTemporary(file, nullptr) ||
           (FolderRefusesNewFiles(errno) && OpenInPlace(name, file));
  }
  if (!S_ISREG(info.st_mode) || info.st_nlink > 1) return OpenInPlace(name, file);
  // A file the user may not write is not replaced behind its back.
  if (faccessat(AT_FDCWD, name, W_OK, AT_EACCESS) != 0) return false;
  // A link stays a link: the file it points to is replaced.
  if (realpath(name, file.target) == nullptr) return false;
  if (StickyFolderKeepsItFromUs(file.target, info)) return OpenInPlace(name, file);
  return OpenTemporary(file, &info) || (FolderRefusesNewFiles(errno) && OpenInPlace(name, file));
}

bool CommitTemporary(OutputFile& file) {
  if (FlushAndClose(file) && std::rename(file.temporary, file.target) == 0) return true;
  RemoveQuietly(file.temporary);
  return false;
}

void AbandonTemporary(OutputFile& file) {
  static_cast<void>(std::fclose(file.stream));
  file.stream = nullptr;
  RemoveQuietly(file.temporary);
}

// Appending. The stream writes through a handle of its own; `appendHandle`
// stays open after the stream is closed, so that the file can be cut back
// even when the failure shows only at the close.

// O_EXCL first tells a file this save creates from one that was there.
int OpenForAppend(const char* name, bool& created) {
  int handle = open(name, O_WRONLY | O_APPEND | O_CREAT | O_EXCL, kNewFileBits);
  created = handle >= 0;
  if (handle < 0 && errno == EEXIST)
    handle = open(name, O_WRONLY | O_APPEND | O_CREAT, kNewFileBits);
  return handle;
}

FILE* StreamOnCopy(int handle) {
  const int copy = dup(handle);
  if (copy < 0) return nullptr;
  FILE* stream = fdopen(copy, "a");
  if (stream == nullptr) {
    const int failure = errno;
    close(copy);
    errno = failure;
  }
  return stream;
}

// Closes the spare handle; a file this save created goes again if unsaved.
void ReleaseAppendHandle(OutputFile& file, bool saved) {
  const int failure = errno;
  close(file.appendHandle);
  file.appendHandle = kNoHandle;
  if (!saved && file.createdNew) unlink(file.target);
  errno = failure;
}

// Back to the old end: only a regular file can be cut.
void CutBack(OutputFile& file) {
  const int failure = errno;
  if (IsRegular(file.appendHandle)) {
    static_cast<void>(ftruncate(file.appendHandle, file.sizeBefore));
  }
  errno = failure;
}

bool OpenAppend(const char* name, OutputFile& file) {
  if (!CopyPath(name, file.target)) return false;
  file.appendHandle = OpenForAppend(name, file.createdNew);
  if (file.appendHandle < 0) return false;
  struct stat info {};
  if (fstat(file.appendHandle, &info) == 0) {
    file.sizeBefore = info.st_size;
    file.stream = StreamOnCopy(file.appendHandle);
  }
  if (file.stream != nullptr) return true;
  ReleaseAppendHandle(file, false);
  return false;
}

bool CommitAppend(OutputFile& file) {
  const bool saved = FlushAndClose(file);
  if (!saved) CutBack(file);
  ReleaseAppendHandle(file, saved);
  return saved;
}

void AbandonAppend(OutputFile& file) {
  static_cast<void>(std::fclose(file.stream));
  file.stream = nullptr;
  CutBack(file);
  ReleaseAppendHandle(file, false);
}

}  // namespace

bool OpenOutput(const char* name, OutputMode mode, OutputFile& file) {
  Reset(file, mode);
  return mode == OutputMode::kAppend ? OpenAppend(name, file) : OpenReplace(name, file);
}

bool WriteOutput(OutputFile& file, const void* data, size_t length) {
  return std::fwrite(data, 1, length, file.stream) == length;
}

bool CommitOutput(OutputFile& file) {
  if (file.mode == OutputMode::kAppend) return CommitAppend(file);
  if (file.viaTemporary) return CommitTemporary(file);
  return FlushAndClose(file);
}

void AbandonOutput(OutputFile& file) {
  if (file.mode == OutputMode::kAppend) {
    AbandonAppend(file);
  } else if (file.viaTemporary) {
    AbandonTemporary(file);
  } else {
    static_cast<void>(std::fclose(file.stream));
    file.stream = nullptr;
  }
}
