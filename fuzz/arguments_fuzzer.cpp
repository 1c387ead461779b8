// Command-line arguments: the input, split at its newlines, is the argument
// list of a program started with an empty standard input; two or more
// arguments make it a batch run.
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/beatstamps1a.h"
#include "scratch_folder.h"

namespace {

// The program reads six arguments after its options; a few more show that the
// rest are ignored.
constexpr size_t kMostArguments = 10;

// Exports may grow to gigabytes by design; files are held to this size, so a
// large one ends early in a failed save, which is worth fuzzing too.
constexpr rlim_t kMostFileBytes = rlim_t{4} << 20;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  EnterScratchFolder();
  const rlimit limit{kMostFileBytes, kMostFileBytes};
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) std::abort();
  // Past the limit a write fails instead of ending the process.
  if (std::signal(SIGXFSZ, SIG_IGN) == SIG_ERR) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Every name given stays inside the scratch folder.
  if (!PrepareForInput(data, size)) return -1;

  // An argument ends at a newline; a zero byte ends it early, as in a real
  // argument list.
  std::vector<std::string> given(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] != '\n') {
      given.back().push_back(static_cast<char>(data[i]));
    } else if (given.size() < kMostArguments) {
      given.emplace_back();
    } else {
      break;
    }
  }
  if (size == 0) given.clear();
  char name[] = "beatstamps1a";
  std::vector<char*> arguments(given.size() + 2, nullptr);
  arguments[0] = name;
  std::transform(given.begin(), given.end(), arguments.begin() + 1,
                 [](std::string& argument) { return argument.data(); });

  FILE* input = fmemopen(const_cast<char*>(" "), 1, "r");
  if (input == nullptr) std::abort();
  if (std::fgetc(input) != ' ') std::abort();  // standard input is now empty
  // Standard output is a file in the scratch folder, held to the size limit
  // like every other file, so an export to "-" ends early too.
  FILE* output = std::fopen("standard-output", "w");
  if (output == nullptr) std::abort();
  Console console{input, output, DiscardedOutput()};
  const int status = RunBeatstamps(static_cast<int>(given.size() + 1), arguments.data(), console);
  (void)std::fclose(input);
  (void)std::fclose(output);
  if (status != 0 && status != 1) std::abort();
  return 0;
}
