// A private folder for the harnesses that let the program name files: every
// report the program writes and every map it opens stays inside it.
#ifndef BEATSTAMPS_FUZZ_SCRATCH_FOLDER_H_
#define BEATSTAMPS_FUZZ_SCRATCH_FOLDER_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Makes a fresh folder under $TMPDIR (or /tmp) and changes into it, once per
// process; the folder is removed when the process ends normally. Aborts if
// that fails.
void EnterScratchFolder();

// Removes every file in the scratch folder, so files cannot pile up from one
// input to the next.
void ClearScratchFolder();

// Creates `name` in the scratch folder holding `text`.
void PutFile(const char* name, const char* text);

// True when the input could name a file outside the scratch folder.
bool NamesAnotherFolder(const uint8_t* data, size_t size);

// Readies the scratch folder for one input of a harness that lets the program
// name files: false when the input could name a file outside the folder;
// otherwise the folder holds the song map alone.
bool PrepareForInput(const uint8_t* data, size_t size);

// Where the program's standard output goes while fuzzing, opened once.
FILE* DiscardedOutput();

// A small map file that inputs may name, so the program has a real map to
// read: sections, settings and notes.
extern const char kSongMapName[];
extern const char kSongMapText[];

#endif  // BEATSTAMPS_FUZZ_SCRATCH_FOLDER_H_
