// Saving a file so that a failed save never leaves it damaged: a replacement
// is written beside the file and renamed onto it only once it is whole on the
// disk; an append is cut back to the old end when it cannot be finished.
#ifndef BEATSTAMPS_OUTPUT_FILE_H_
#define BEATSTAMPS_OUTPUT_FILE_H_

#include <sys/types.h>

#include <climits>
#include <cstdio>

enum class OutputMode { kReplace, kAppend };

struct OutputFile {
  FILE* stream;  // where the bytes go, between OpenOutput and Commit/Abandon
  OutputMode mode;
  // Replace: the bytes go into `temporary`, renamed onto `target` at the
  // commit. Otherwise they go straight into the file: a device, a pipe, a
  // file with other hard links, or one its folder does not let us replace.
  bool viaTemporary;
  bool createdNew;           // append: the file did not exist; a failed save removes it
  int appendHandle;          // append: a second handle on the file, to cut it back with
  off_t sizeBefore;          // append: where the file ended before the save
  char target[PATH_MAX];     // the file saved to (for a link, the file it points to)
  char temporary[PATH_MAX];  // replace: the new file until it is put in place
};

// Opens `name` for a save; false (nothing changed, errno kept) when it cannot.
bool OpenOutput(const char* name, OutputMode mode, OutputFile& file);
// Adds bytes to the save; false when they did not all go out.
bool WriteOutput(OutputFile& file, const void* data, size_t length);
// Flushes the bytes to the disk and puts them in place. False when anything
// failed: the file is then exactly as it was before OpenOutput. (A
// replacement written straight into the file emptied it at the open; the
// file then holds what reached it.)
bool CommitOutput(OutputFile& file);
// Gives the save up: the file is exactly as it was, no temporary file left.
void AbandonOutput(OutputFile& file);

#endif  // BEATSTAMPS_OUTPUT_FILE_H_
