#include "scratch_folder.h"

#include <dirent.h>
#include <linux/limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

char folder[PATH_MAX];

void RemoveScratchFolder() {
  ClearScratchFolder();
  if (chdir("/") == 0) rmdir(folder);
}

}  // namespace

const char kSongMapName[] = "song.map";
const char kSongMapText[] =
    "Song - test map\n"
    "rate\t48000\n"
    "div\t2\n"
    "start\t2\n"
    "stop\t5\n"
    "tmap\t120\t4\t2\n"
    "tmap\t90\t3\t2\r\n"
    "tmap\t144.6\t7\t1\n";

void EnterScratchFolder() {
  // fuzz/run.sh gives a folder of its own (in memory where it can), which
  // it removes whatever way the harness ends; /tmp otherwise.
  const char* under = std::getenv("TMPDIR");
  if (under == nullptr || under[0] == '\0') under = "/tmp";
  const int length = std::snprintf(folder, sizeof folder, "%s/beatstamps-fuzz-XXXXXX", under);
  if (length < 0 || length >= static_cast<int>(sizeof folder) || mkdtemp(folder) == nullptr ||
      chdir(folder) != 0) {
    std::perror("beatstamps fuzz: scratch folder");
    std::abort();
  }
  if (std::atexit(RemoveScratchFolder) != 0) std::abort();
}

void ClearScratchFolder() {
  DIR* directory = opendir(".");
  if (directory == nullptr) std::abort();
  while (const dirent* entry = readdir(directory)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    unlink(entry->d_name);
  }
  closedir(directory);
}

void PutFile(const char* name, const char* text) {
  FILE* file = std::fopen(name, "w");
  if (file == nullptr) std::abort();
  if (std::fputs(text, file) < 0 || std::fclose(file) != 0) std::abort();
}

bool NamesAnotherFolder(const uint8_t* data, size_t size) {
  return size > 0 && std::memchr(data, '/', size) != nullptr;
}

bool PrepareForInput(const uint8_t* data, size_t size) {
  if (NamesAnotherFolder(data, size)) return false;
  ClearScratchFolder();
  PutFile(kSongMapName, kSongMapText);
  return true;
}

FILE* DiscardedOutput() {
  static FILE* const output = std::fopen("/dev/null", "w");
  if (output == nullptr) std::abort();
  return output;
}
