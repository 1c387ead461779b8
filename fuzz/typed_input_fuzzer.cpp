// Typed input: the input is what a user types into the command loop of a
// program started without arguments.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "cli/beatstamps1a.h"
#include "scratch_folder.h"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  EnterScratchFolder();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Every name typed stays inside the scratch folder.
  if (!PrepareForInput(data, size)) return -1;

  // fmemopen refuses an empty buffer; an empty stream is made from one byte
  // that is read past at once.
  std::vector<char> typed(data, data + size);
  FILE* input = typed.empty() ? fmemopen(const_cast<char*>(" "), 1, "r")
                              : fmemopen(typed.data(), typed.size(), "r");
  if (input == nullptr) std::abort();
  Console console{input, DiscardedOutput(), DiscardedOutput()};
  char name[] = "beatstamps1a";
  char* arguments[] = {name, nullptr};
  const int status = RunBeatstamps(1, arguments, console);
  (void)std::fclose(input);
  if (status != 0 && status != 1) std::abort();
  return 0;
}
