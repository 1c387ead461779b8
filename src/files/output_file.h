// Saving a file so that nothing is lost: a replacement is written into a
// new file beside the file (unnamed, or hidden and locked while written) and
// linked into its place only once it is whole on the disk; an append holds a
// lock on the file and, when it cannot be finished, takes back its own bytes
// while they are still the file's last. A signal that would end the program
// during a save undoes the save first; once the save can no longer be
// undone, the signal waits until the save has been told.
#ifndef BEATSTAMPS_OUTPUT_FILE_H_
#define BEATSTAMPS_OUTPUT_FILE_H_

#include <sys/types.h>

#include <climits>
#include <cstddef>
#include <cstdint>

#include "base/failure.h"
#include "files/file_metadata.h"
#include "files/save_signals.h"

enum class OutputMode { kReplace, kAppend };

// How the bytes of a save reach the file.
enum class OutputRoute {
  // Replace: into a new file in the same folder that takes the old one's
  // place at the commit (unnamed where the file system allows it).
  kReplacement,
  // Replace: into the old regular file itself, its room reserved first: the
  // folder takes no new files.
  kInPlace,
  // Replace: a device, a pipe, or a path that cannot be looked at: written
  // as the bytes come.
  kStraight,
  kAppend,
};

// Counts the bytes a save will write. Asked only by a save that must reserve
// their room before it writes the first one.
struct OutputLength {
  uint64_t (*count)(const void* source);
  const void* source;
};

struct OutputFile {
  const char* name;  // as the save was asked for, for its failure line
  int handle;        // where the bytes go, between OpenOutput and Commit/Abandon
  OutputMode mode;
  OutputRoute route;
  // Replacement: copied into the old file at the commit instead of taking
  // its place (the old file has other hard links, or an owner, group or
  // attribute the new file could not be given, or its name refuses a rename).
  bool copyBack;
  bool touched;      // in place: bytes reached the file; it can no longer be undone
  bool created;      // append: this save made the file; replace: no file had the name
  bool locked;       // append: the save holds the file's lock
  off_t sizeBefore;  // in place: the old size
  uint64_t written;  // bytes saved so far
  // Append: where this save's bytes lie in the file, and whether another
  // writer's bytes came between them.
  off_t ownStart;
  off_t ownEnd;
  bool ownApart;
  Privileges privileges;  // replacement of a file: what the bytes take from it
  SaveSignals signals;
  char target[PATH_MAX];     // the file saved to (for a link, the file it leads to)
  char temporary[PATH_MAX];  // replacement: its name while it has one, else empty
};

// Each step that fails fills `failure` with the line that names the file and
// the system's reason: "Error: Cannot write to NAME: REASON!".

// Opens `name` (kept, not copied) for a save; false (nothing changed) when it
// cannot. `length` is asked for only when the room must be reserved first.
bool OpenOutput(const char* name, OutputMode mode, const OutputLength& length, OutputFile& file,
                Failure& failure);
// Adds bytes to the save; false when they did not all go out.
bool WriteOutput(OutputFile& file, const void* data, size_t length, Failure& failure);
// Puts the bytes in place and on the disk, the name of a new file with them.
// False when anything failed: the file is then as it was before OpenOutput.
// Only a failure of the disk itself part way through an in-place write, or a
// write to a device or pipe, leaves what reached it. Past the last look at
// signals the save is done: an ending signal then waits for FinishOutput,
// which follows every commit.
bool CommitOutput(OutputFile& file, Failure& failure);
// After the outcome of the commit has been told: a signal held since acts now.
void FinishOutput(OutputFile& file);

// The line of a save of `name` that failed with the errno value `error`
// (without a reason where it is 0).
void SetWriteFailure(Failure& failure, const char* name, int error);
// Gives the save up: the file is as it was, no other file left.
void AbandonOutput(OutputFile& file);

// True when `name` is the program's standard output itself (/dev/stdout,
// /dev/fd/1, or the very file it is open to): such a save goes through the
// standard output, in order with the program's own lines.
bool IsStandardOutputFile(const char* name);

#endif  // BEATSTAMPS_OUTPUT_FILE_H_
