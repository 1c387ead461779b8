#include "files/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "files/file_metadata.h"

namespace {

constexpr int kNoHandle = -1;
// What a new file is given before the umask, as fopen gives it.
constexpr mode_t kNewFileBits = 0666;
// A replacement for an existing file is private until it has the old one's
// owner, attributes and mode.
constexpr mode_t kPrivateBits = 0600;
// Tries at a fresh hidden name, or at a name another program keeps moving.
constexpr int kAttempts = 100;
// Bytes copied or zeroed at once.
constexpr size_t kChunkBytes = 65536;
// How long an append waits between looks at another save's lock.
constexpr long kLockPauseNanoseconds = 1000000;
// Links followed to the file a name leads to, as the system follows them.
constexpr int kMostLinks = 40;
// A replacement's hidden name: the prefix, then six letters or digits.
constexpr char kHiddenPrefix[] = ".beatstamps-";
constexpr size_t kHiddenPrefixLength = sizeof kHiddenPrefix - 1;
constexpr size_t kHiddenLetters = 6;

void Reset(OutputFile& file, OutputMode mode) {
  file.handle = kNoHandle;
  file.mode = mode;
  file.route = mode == OutputMode::kAppend ? OutputRoute::kAppend : OutputRoute::kReplacement;
  file.copyBack = false;
  file.touched = false;
  file.created = false;
  file.locked = false;
  file.sizeBefore = 0;
  file.written = 0;
  file.ownStart = 0;
  file.ownEnd = 0;
  file.ownApart = false;
  file.privileges = Privileges{};
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

// Clean-up steps keep the errno of the failure that led to them.

void CloseQuietly(int& handle) {
  const int failure = errno;
  if (handle != kNoHandle) close(handle);
  handle = kNoHandle;
  errno = failure;
}

void UnlinkQuietly(char* path) {
  const int failure = errno;
  if (path[0] != '\0') unlink(path);
  path[0] = '\0';
  errno = failure;
}

void CutTo(int handle, off_t size) {
  const int failure = errno;
  static_cast<void>(ftruncate(handle, size));
  errno = failure;
}

bool IsRegular(int handle) {
  struct stat info {};
  return fstat(handle, &info) == 0 && S_ISREG(info.st_mode);
}

// True when `name` leads to the very file open as `handle`.
bool NameLeadsTo(const char* name, int handle) {
  struct stat named {};
  struct stat open {};
  return stat(name, &named) == 0 && fstat(handle, &open) == 0 && named.st_dev == open.st_dev &&
         named.st_ino == open.st_ino;
}

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

// The file `name` leads to, its links followed by their text (a relative
// one from the link's own folder), so that a path of any length works: the
// name itself when it is no link; a name no file has yet when the last link
// leads nowhere.
bool FollowLinks(const char* name, char* target) {
  if (!CopyPath(name, target)) return false;
  for (int link = 0; link < kMostLinks; ++link) {
    struct stat info {};
    if (lstat(target, &info) != 0 || !S_ISLNK(info.st_mode)) return true;
    char text[PATH_MAX];
    const ssize_t length = readlink(target, text, sizeof text - 1);
    if (length < 0) return false;
    text[length] = '\0';
    char folder[PATH_MAX];
    FolderOf(target, folder);
    const size_t folderLength = text[0] == '/' ? 0 : std::strlen(folder);
    if (folderLength + static_cast<size_t>(length) >= PATH_MAX) {
      errno = ENAMETOOLONG;
      return false;
    }
    std::memcpy(target, folder, folderLength);
    std::memcpy(target + folderLength, text, static_cast<size_t>(length) + 1);
  }
  errno = ELOOP;
  return false;
}

// Makes the names in the folder of `path` last through a power cut. A
// folder we may not read, or a file system that cannot sync one, keeps
// them as well as it can.
bool SyncFolderOf(const char* path) {
  char folder[PATH_MAX];
  FolderOf(path, folder);
  int handle = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (handle < 0) return errno == EACCES;
  const bool synced = fsync(handle) == 0 || errno == EINVAL;
  CloseQuietly(handle);
  return synced;
}

// An appended write ends where the handle now stands: its bytes lie just
// before, whatever other writers added before them.
void NoteOwnBytes(OutputFile& file, ssize_t put) {
  const off_t end = lseek(file.handle, 0, SEEK_CUR);
  if (end < 0) {
    file.ownApart = true;
    return;
  }
  const off_t start = end - put;
  if (file.written == 0) {
    file.ownStart = start;
  } else if (start != file.ownEnd) {
    file.ownApart = true;
  }
  file.ownEnd = end;
}

// Writes every byte, or fails with errno set.
bool WriteAll(OutputFile& file, const void* data, size_t length) {
  const auto* bytes = static_cast<const char*>(data);
  while (length > 0) {
    const ssize_t put = write(file.handle, bytes, length);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      if (put == 0) errno = EIO;
      return false;
    }
    file.touched = file.route == OutputRoute::kInPlace || file.route == OutputRoute::kStraight;
    if (file.route == OutputRoute::kAppend) NoteOwnBytes(file, put);
    file.written += static_cast<uint64_t>(put);
    bytes += put;
    length -= static_cast<size_t>(put);
  }
  return true;
}

// Reserving room in a file before it is overwritten in place.

bool FitsFileSizeLimit(uint64_t length) {
  rlimit limit{};
  if (getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return true;
  return length <= limit.rlim_cur;
}

// Grows the file with zeros up to `to` bytes; its old bytes stay as they are.
bool GrowWithZeros(int handle, off_t from, off_t to) {
  char zeros[kChunkBytes] = {};
  for (off_t at = from; at < to;) {
    const off_t left = to - at;
    const size_t part =
        left < static_cast<off_t>(kChunkBytes) ? static_cast<size_t>(left) : kChunkBytes;
    const ssize_t put = pwrite(handle, zeros, part, at);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      if (put == 0) errno = ENOSPC;
      return false;
    }
    at += put;
  }
  return true;
}

// Makes sure `length` bytes fit in the file, so that a full disk, a quota
// or a file-size limit fails here, before any old byte is touched. The
// file's bytes stay as they were; it may have grown by zeros.
bool ReserveRoom(int handle, off_t oldSize, uint64_t length) {
  if (length > static_cast<uint64_t>(INT64_MAX) || !FitsFileSizeLimit(length)) {
    errno = EFBIG;
    return false;
  }
  const auto size = static_cast<off_t>(length);
  if (size == 0 || fallocate(handle, FALLOC_FL_KEEP_SIZE, 0, size) == 0) return true;
  if (errno != EOPNOTSUPP) return false;
  // Old bytes are overwritten where they lie; only the growth needs room.
  if (size <= oldSize || GrowWithZeros(handle, oldSize, size)) return true;
  CutTo(handle, oldSize);
  return false;
}

// The replacement: a new file in the target's folder.

// "<target's folder>/.beatstamps-XXXXXX", six letters or digits from `seed`.
bool HiddenName(const char* target, uint64_t seed, char* path) {
  constexpr char kName[] = ".beatstamps-XXXXXX";
  constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  constexpr uint64_t kLetterCount = sizeof kLetters - 1;
  FolderOf(target, path);
  const size_t length = std::strlen(path);
  if (length + sizeof kName > PATH_MAX) {
    errno = ENAMETOOLONG;
    return false;
  }
  std::memcpy(path + length, kName, sizeof kName);
  for (char* letter = path + length + sizeof kName - 7; *letter != '\0'; ++letter) {
    *letter = kLetters[seed % kLetterCount];
    seed /= kLetterCount;
  }
  return true;
}

// A different seed at every call: the clock, the process and the attempt, mixed.
uint64_t NameSeed(int attempt) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  uint64_t seed = static_cast<uint64_t>(now.tv_nsec) ^ (static_cast<uint64_t>(now.tv_sec) << 30) ^
                  (static_cast<uint64_t>(getpid()) << 40) ^
                  (static_cast<uint64_t>(attempt) * 0x9e3779b97f4a7c15u);
  seed = (seed ^ (seed >> 30)) * 0xbf58476d1ce4e5b9u;
  seed = (seed ^ (seed >> 27)) * 0x94d049bb133111ebu;
  return seed ^ (seed >> 31);
}

bool IsHiddenName(const char* name) {
  if (std::strncmp(name, kHiddenPrefix, kHiddenPrefixLength) != 0) return false;
  const char* letters = name + kHiddenPrefixLength;
  if (std::strlen(letters) != kHiddenLetters) return false;
  for (const char* letter = letters; *letter != '\0'; ++letter) {
    const bool alphanumeric = (*letter >= 'a' && *letter <= 'z') ||
                              (*letter >= 'A' && *letter <= 'Z') ||
                              (*letter >= '0' && *letter <= '9');
    if (!alphanumeric) return false;
  }
  return true;
}

// A replacement holds a lock on its file for as long as it is written, so
// that a hidden file whose lock nobody holds is one a killed save left.
// False when another holds the lock; a file system without locks lets the
// file go unlocked, and then it is never taken for a left one.
bool LockReplacement(int handle) {
  if (flock(handle, LOCK_EX | LOCK_NB) == 0) return true;
  return errno != EWOULDBLOCK && errno != EINTR;
}

// Removes the hidden file `name` in the folder `folder` when no save holds it.
void RemoveIfLeft(int folder, const char* name) {
  const int handle = openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (handle < 0) return;
  struct stat opened {};
  struct stat named {};
  // Locked, and still under that name: no save can take it up any more.
  if (fstat(handle, &opened) == 0 && S_ISREG(opened.st_mode) &&
      flock(handle, LOCK_EX | LOCK_NB) == 0 &&
      fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == opened.st_dev &&
      named.st_ino == opened.st_ino) {
    unlinkat(folder, name, 0);
  }
  close(handle);
}

// The hidden files that killed saves left in the target's folder go.
void RemoveLeftReplacements(const char* target) {
  const int failure = errno;
  char path[PATH_MAX];
  FolderOf(target, path);
  DIR* folder = opendir(path);
  if (folder != nullptr) {
    for (const dirent* entry = readdir(folder); entry != nullptr; entry = readdir(folder)) {
      if (IsHiddenName(entry->d_name)) RemoveIfLeft(dirfd(folder), entry->d_name);
    }
    closedir(folder);
  }
  errno = failure;
}

// A hidden file of a fresh name, where the file system has no unnamed files,
// locked while it is written. A cleaner that took it between the open and the
// lock has removed it: a fresh name then.
int OpenNamedReplacement(OutputFile& file, mode_t mode) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (!HiddenName(file.target, NameSeed(attempt), file.temporary)) break;
    int handle = open(file.temporary, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (handle < 0 && errno != EEXIST) break;
    if (handle >= 0 && LockReplacement(handle) && NameLeadsTo(file.temporary, handle)) {
      return handle;
    }
    CloseQuietly(handle);
  }
  file.temporary[0] = '\0';
  return kNoHandle;
}

// An unnamed file in the target's folder vanishes by itself when the program
// is killed before it is linked in; it is locked too, for the moment it has
// a hidden name before the rename.
int OpenReplacementFile(OutputFile& file, mode_t mode) {
  RemoveLeftReplacements(file.target);
  char folder[PATH_MAX];
  FolderOf(file.target, folder);
  const int handle = open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
  if (handle >= 0) {
    LockReplacement(handle);
    return handle;
  }
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return kNoHandle;
  return OpenNamedReplacement(file, mode);
}

// Gives the unnamed file the name `path`, which must be free.
bool LinkUnnamed(int handle, const char* path) {
  char self[64];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", handle);
  if (linkat(AT_FDCWD, self, AT_FDCWD, path, AT_SYMLINK_FOLLOW) == 0) return true;
  // Without /proc, the handle itself.
  return errno == ENOENT && linkat(handle, "", AT_FDCWD, path, AT_EMPTY_PATH) == 0;
}

bool LinkUnnamedHidden(OutputFile& file) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (!HiddenName(file.target, NameSeed(attempt), file.temporary)) break;
    if (LinkUnnamed(file.handle, file.temporary)) return true;
    if (errno != EEXIST) break;
  }
  file.temporary[0] = '\0';
  return false;
}

// Puts the replacement under the target's name in one step: a new name is
// linked straight in; an old file is replaced by a rename.
bool PutInPlace(OutputFile& file) {
  if (file.temporary[0] == '\0') {
    if (file.created && LinkUnnamed(file.handle, file.target)) return true;
    // The name was taken meanwhile: replaced like an old file.
    if ((file.created && errno != EEXIST) || !LinkUnnamedHidden(file)) return false;
  }
  if (std::rename(file.temporary, file.target) == 0) {
    file.temporary[0] = '\0';
    return true;
  }
  UnlinkQuietly(file.temporary);
  return false;
}

// A bind-mounted file, or another user's file in a sticky folder, keeps
// its name from being renamed onto.
bool NameRefusesRename(int error) {
  return error == EBUSY || error == EPERM;
}

bool CopyBytes(int from, int to, uint64_t length) {
  char chunk[kChunkBytes];
  for (uint64_t at = 0; at < length;) {
    const uint64_t left = length - at;
    const size_t part = left < kChunkBytes ? static_cast<size_t>(left) : kChunkBytes;
    const ssize_t got = pread(from, chunk, part, static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got == 0) errno = EIO;
      return false;
    }
    for (ssize_t put = 0; put < got;) {
      const ssize_t step =
          pwrite(to, chunk + put, static_cast<size_t>(got - put), static_cast<off_t>(at) + put);
      if (step < 0 && errno == EINTR) continue;
      if (step <= 0) {
        if (step == 0) errno = EIO;
        return false;
      }
      put += step;
    }
    at += static_cast<uint64_t>(got);
  }
  return true;
}

void DiscardReplacement(OutputFile& file) {
  CloseQuietly(file.handle);
  UnlinkQuietly(file.temporary);
}

bool EndIfInterrupted(OutputFile& file);

// The whole replacement, copied over the old file's bytes in place once its
// room is reserved; the old file keeps its inode, owner, links and
// attributes.
bool CopyBack(OutputFile& file) {
  int target = open(file.target, O_WRONLY | O_CLOEXEC);
  if (target < 0) return false;
  struct stat old {};
  if (fstat(target, &old) != 0) {
    CloseQuietly(target);
    return false;
  }
  // The last moment the save can be undone: only the reserved room goes.
  if (!ReserveRoom(target, old.st_size, file.written) || SaveInterrupted(file.signals)) {
    CutTo(target, old.st_size);
    CloseQuietly(target);
    EndIfInterrupted(file);
    return false;
  }
  const bool copied = CopyBytes(file.handle, target, file.written) &&
                      ftruncate(target, static_cast<off_t>(file.written)) == 0;
  // The bytes took the old file's privileges; they are given back as far as
  // the saver may.
  if (copied) static_cast<void>(GivePrivileges(file.privileges, target));
  const bool synced = copied && fsync(target) == 0;
  CloseQuietly(target);
  return synced;
}

// The last look at signals comes once the bytes are on the disk, just
// before the new file takes the old one's place. The privileges come after
// the bytes, which would take them; a file that cannot take them is copied
// over the old one instead.
bool CommitReplacement(OutputFile& file) {
  bool saved = false;
  if (!file.copyBack && !file.created && !GivePrivileges(file.privileges, file.handle)) {
    file.copyBack = true;
  }
  if (file.copyBack) {
    saved = CopyBack(file);
  } else if (fsync(file.handle) == 0 && !EndIfInterrupted(file)) {
    if (PutInPlace(file)) {
      saved = SyncFolderOf(file.target);
    } else if (NameRefusesRename(errno)) {
      saved = CopyBack(file);
    }
  }
  DiscardReplacement(file);
  return saved;
}

// Replacing in place: an existing regular file whose folder takes no new
// files. The room is reserved at the open; the old bytes are overwritten
// from the start and the file cut to the new length at the commit.

bool OpenInPlace(const struct stat& old, const OutputLength& length, OutputFile& file) {
  file.route = OutputRoute::kInPlace;
  file.sizeBefore = old.st_size;
  file.handle = open(file.target, O_WRONLY | O_CLOEXEC);
  if (file.handle < 0) return false;
  if (ReserveRoom(file.handle, file.sizeBefore, length.count(length.source))) return true;
  CutTo(file.handle, file.sizeBefore);
  CloseQuietly(file.handle);
  return false;
}

bool CommitInPlace(OutputFile& file) {
  if (!file.touched && EndIfInterrupted(file)) return false;
  const bool cut = ftruncate(file.handle, static_cast<off_t>(file.written)) == 0;
  // The bytes took the old file's privileges; they are given back as far as
  // the saver may.
  if (cut) static_cast<void>(GivePrivileges(file.privileges, file.handle));
  const bool saved = cut && fsync(file.handle) == 0;
  CloseQuietly(file.handle);
  return saved;
}

void AbandonInPlace(OutputFile& file) {
  // Untouched, only the reserved room goes again.
  if (!file.touched) CutTo(file.handle, file.sizeBefore);
  CloseQuietly(file.handle);
}

// Straight: a device, a pipe, or a path that cannot be looked at. Nothing
// there can be undone, so signals keep their usual effect: the program may
// wait on a pipe.

bool OpenStraight(const char* name, OutputFile& file) {
  file.route = OutputRoute::kStraight;
  LetEndingSignalsThrough(file.signals);
  file.handle = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kNewFileBits);
  return file.handle >= 0;
}

// Pipes and devices cannot be synced, and need not be.
bool CommitStraight(OutputFile& file) {
  const bool saved = !IsRegular(file.handle) || fsync(file.handle) == 0;
  const bool closed = close(file.handle) == 0;
  file.handle = kNoHandle;
  return saved && closed;
}

bool OpenReplace(const char* name, const OutputLength& length, OutputFile& file) {
  struct stat old {};
  if (stat(name, &old) != 0) {
    // Unreadable paths fail in place just as before; a new file, or the one
    // a dangling link names, is made whole as every replacement is.
    if (errno != ENOENT) return OpenStraight(name, file);
    if (!FollowLinks(name, file.target)) return false;
    file.created = true;
    file.handle = OpenReplacementFile(file, kNewFileBits);
    return file.handle >= 0;
  }
  if (!S_ISREG(old.st_mode)) return OpenStraight(name, file);
  // A file the user may not write is not replaced behind its back.
  if (faccessat(AT_FDCWD, name, W_OK, AT_EACCESS) != 0) return false;
  // A link stays a link: the file it leads to is replaced.
  if (!FollowLinks(name, file.target)) return false;
  if (!ReadPrivileges(file.target, old, file.privileges)) file.copyBack = true;
  file.handle = OpenReplacementFile(file, kPrivateBits);
  if (file.handle < 0) {
    const bool folderRefuses = errno == EACCES || errno == EPERM;
    return folderRefuses && OpenInPlace(old, length, file);
  }
  // A new file would part the old one from its other names.
  if (old.st_nlink > 1 || file.copyBack) {
    file.copyBack = true;
    return true;
  }
  switch (TakeOverMetadata(file.target, old, file.handle)) {
    case Takeover::kAll:
      return true;
    case Takeover::kNotAll:
      file.copyBack = true;
      return true;
    case Takeover::kFailed:
      break;
  }
  DiscardReplacement(file);
  return false;
}

// Appending. The file is locked for the whole save, so that saves of this
// program follow one another; the report goes out in one write, so that it
// never mixes with other writers' bytes either.

// O_EXCL first tells a file this save creates from one that was there.
int OpenForAppend(const char* name, bool& created) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    int handle = open(name, O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileBits);
    created = handle >= 0;
    if (handle >= 0 || errno != EEXIST) return handle;
    handle = open(name, O_WRONLY | O_APPEND | O_CLOEXEC);
    if (handle >= 0 || errno != ENOENT) return handle;
    // The file went between the two opens: again.
  }
  return kNoHandle;
}

// Waits for the lock, watching for signals; a file system without locks
// still gets the report in one write.
bool LockForAppend(OutputFile& file) {
  while (flock(file.handle, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) return true;
    if (SaveInterrupted(file.signals)) {
      errno = EINTR;
      return false;
    }
    const timespec pause{0, kLockPauseNanoseconds};
    nanosleep(&pause, nullptr);
  }
  file.locked = true;
  return true;
}

// Opens, locks, and makes sure that the name still leads to the file locked:
// another run may have removed or replaced it meanwhile.
bool OpenLockedForAppend(OutputFile& file) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    file.handle = OpenForAppend(file.target, file.created);
    if (file.handle < 0) return false;
    if (!LockForAppend(file)) {
      CloseQuietly(file.handle);
      return false;
    }
    if (NameLeadsTo(file.target, file.handle)) return true;
    CloseQuietly(file.handle);
    file.locked = false;
  }
  errno = EAGAIN;
  return false;
}

// Through a link, the file it leads to is appended to, and made in its own
// folder when it is new.
bool OpenAppend(const char* name, OutputFile& file) {
  struct stat info {};
  if (stat(name, &info) != 0 || S_ISREG(info.st_mode)) {
    return FollowLinks(name, file.target) && OpenLockedForAppend(file);
  }
  // A device or a pipe: written as before, signals as usual.
  LetEndingSignalsThrough(file.signals);
  file.handle = open(name, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kNewFileBits);
  return file.handle >= 0;
}

// A file this save made goes again only while the name still leads to it
// and it is empty; the lock keeps other saves out. Through a link, the file
// it leads to goes; the link stays.
void RemoveIfStillOurs(const OutputFile& file) {
  struct stat info {};
  if (!file.created || !file.locked || fstat(file.handle, &info) != 0 || info.st_size != 0) return;
  if (NameLeadsTo(file.target, file.handle)) unlink(file.target);
}

// Another program may append beside this one without a lock (a logger):
// the save's own bytes are cut back only while they lie together at the
// file's end, where a cut takes nothing else.
void CutOwnBytes(const OutputFile& file) {
  struct stat info {};
  if (file.written == 0 || file.ownApart || fstat(file.handle, &info) != 0 ||
      info.st_size != file.ownEnd) {
    return;
  }
  CutTo(file.handle, file.ownStart);
}

void UndoAppend(OutputFile& file) {
  const int failure = errno;
  if (IsRegular(file.handle)) {
    CutOwnBytes(file);
    RemoveIfStillOurs(file);
  }
  CloseQuietly(file.handle);
  errno = failure;
}

bool CommitAppend(OutputFile& file) {
  const bool regular = IsRegular(file.handle);
  bool saved = !regular || fsync(file.handle) == 0;
  if (saved && EndIfInterrupted(file)) return false;
  if (saved && regular && file.created) saved = SyncFolderOf(file.target);
  if (!saved) {
    UndoAppend(file);
    return false;
  }
  // Closing lets the lock go.
  saved = close(file.handle) == 0;
  file.handle = kNoHandle;
  return saved;
}

// Undoes the save when an ending signal has arrived, and lets the signal
// end the program. True (errno EINTR) if the program goes on after all.
bool EndIfInterrupted(OutputFile& file) {
  if (!SaveInterrupted(file.signals)) return false;
  AbandonOutput(file);
  errno = EINTR;
  return true;
}

}  // namespace

void SetWriteFailure(Failure& failure, const char* name, int error) {
  if (error == 0) {
    SetFailure(failure, "Error: Cannot write to %s!\n", name);
  } else {
    SetFailure(failure, "Error: Cannot write to %s: %s!\n", name, std::strerror(error));
  }
}

bool OpenOutput(const char* name, OutputMode mode, const OutputLength& length, OutputFile& file,
                Failure& failure) {
  Reset(file, mode);
  file.name = name;
  HoldSaveSignals(file.signals);
  errno = 0;
  const bool opened =
      mode == OutputMode::kAppend ? OpenAppend(name, file) : OpenReplace(name, length, file);
  if (!opened) {
    SetWriteFailure(failure, name, errno);
    ReleaseSaveSignals(file.signals);
  }
  return opened;
}

bool WriteOutput(OutputFile& file, const void* data, size_t length, Failure& failure) {
  if (file.handle == kNoHandle) errno = EBADF;
  // Once bytes have reached a file in place, the save can only be finished.
  if (file.handle != kNoHandle && (file.touched || !EndIfInterrupted(file)) &&
      WriteAll(file, data, length)) {
    return true;
  }
  SetWriteFailure(failure, file.name, errno);
  return false;
}

bool CommitOutput(OutputFile& file, Failure& failure) {
  if (file.handle == kNoHandle) {
    SetWriteFailure(failure, file.name, EBADF);
    return false;
  }
  bool saved = false;
  switch (file.route) {
    case OutputRoute::kReplacement:
      saved = CommitReplacement(file);
      break;
    case OutputRoute::kInPlace:
      saved = CommitInPlace(file);
      break;
    case OutputRoute::kStraight:
      saved = CommitStraight(file);
      break;
    case OutputRoute::kAppend:
      saved = CommitAppend(file);
      break;
  }
  if (!saved) SetWriteFailure(failure, file.name, errno);
  return saved;
}

void FinishOutput(OutputFile& file) {
  ReleaseSaveSignals(file.signals);
}

void AbandonOutput(OutputFile& file) {
  if (file.handle != kNoHandle) {
    switch (file.route) {
      case OutputRoute::kReplacement:
        DiscardReplacement(file);
        break;
      case OutputRoute::kInPlace:
        AbandonInPlace(file);
        break;
      case OutputRoute::kStraight:
        CloseQuietly(file.handle);
        break;
      case OutputRoute::kAppend:
        UndoAppend(file);
        break;
    }
  }
  ReleaseSaveSignals(file.signals);
}

bool IsStandardOutputFile(const char* name) {
  if (std::strcmp(name, "/dev/stdout") == 0 || std::strcmp(name, "/dev/fd/1") == 0 ||
      std::strcmp(name, "/proc/self/fd/1") == 0) {
    return true;
  }
  struct stat named {};
  struct stat standard {};
  return stat(name, &named) == 0 && fstat(STDOUT_FILENO, &standard) == 0 &&
         named.st_dev == standard.st_dev && named.st_ino == standard.st_ino;
}
