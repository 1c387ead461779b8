// Command-line arguments: the input, split at its newlines, is the argument
// list of a program started with an empty standard input; two or more
// arguments make it a batch run.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "front_end.h"
#include "scratch_folder.h"

namespace {

// The program reads six arguments; two more show that the rest are ignored.
constexpr size_t kMostArguments = 8;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  EnterScratchFolder();
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
  Console console{input, DiscardedOutput(), DiscardedOutput()};
  const int status = RunBeatstamps(static_cast<int>(given.size() + 1), arguments.data(), console);
  (void)std::fclose(input);
  if (status != 0 && status != 1) std::abort();
  return 0;
}
