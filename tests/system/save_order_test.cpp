// A replacement reaches the disk before it takes the file's name: seen in the
// order of the program's own system calls, traced with strace (skipped where
// strace is missing or may not trace).
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "program_runner.h"

namespace {

using SaveOrder = SystemTest;

bool Traces() {
  return std::system("strace -o /dev/null true >/dev/null 2>&1") == 0;
}

std::vector<std::string> Lines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

bool Has(const std::string& line, const std::string& part) {
  return line.find(part) != std::string::npos;
}

// The calls after `line`'s process id: "write(3, ..." gives "write(3, ...".
std::string CallOf(const std::string& line) {
  const size_t space = line.find(' ');
  return space == std::string::npos ? line : line.substr(line.find_first_not_of(' ', space));
}

// In the trace, the file that took the export's bytes is synced after its
// last write and before the first link or rename that names it.
void ExpectSyncedBeforeNamed(const std::string& tracePath) {
  const std::vector<std::string> calls = Lines(tracePath);
  std::string handle;  // "3", of the write that put the CSV header
  size_t lastWrite = 0;
  size_t named = 0;
  for (size_t k = 0; k < calls.size() && named == 0; ++k) {
    const std::string call = CallOf(calls[k]);
    if (handle.empty() && call.rfind("write(", 0) == 0 && Has(call, "\"section,measure")) {
      handle = call.substr(6, call.find(',') - 6);
    }
    if (!handle.empty() && call.rfind("write(" + handle + ",", 0) == 0) lastWrite = k;
    if (!handle.empty() && (call.rfind("rename", 0) == 0 || call.rfind("link", 0) == 0)) named = k;
  }
  ASSERT_FALSE(handle.empty()) << tracePath;
  ASSERT_GT(named, lastWrite) << tracePath;
  bool synced = false;
  for (size_t k = lastWrite + 1; k < named; ++k) {
    const std::string call = CallOf(calls[k]);
    synced = synced || call.rfind("fsync(" + handle + ")", 0) == 0 ||
             call.rfind("fdatasync(" + handle + ")", 0) == 0;
  }
  EXPECT_TRUE(synced) << "no sync of " << handle << " before it is named, in " << tracePath;
}

TEST_F(SaveOrder, AReplacementIsOnTheDiskBeforeItTakesTheName) {
  if (!Traces()) GTEST_SKIP() << "strace cannot trace here";
  Write("old.csv", "an old file\n");
  for (const std::string out : {"old.csv", "new.csv"}) {
    const std::string trace = Path(out + ".trace");
    // The leak checker cannot work under a tracer: it is off for this run.
    const std::string command =
        "export ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}"
        "detect_leaks=0\"; cd '" +
        folder_ + "' && strace -f -qq -o '" + trace +
        "' -e trace=write,fsync,fdatasync,rename,renameat,renameat2,"
        "link,linkat '" BEATSTAMPS_PROGRAM "' --format=csv '" +
        BEATSTAMPS_EXAMPLES "/shoreline.map' " + out + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    ExpectSyncedBeforeNamed(trace);
  }
}

}  // namespace
