#include "cli/check_run.h"

#include <cstdint>
#include <cstdio>

#include "cli/help_text.h"
#include "cli/session.h"

namespace {

// A text map is checked by its reader as it reads; a MIDI file by its own
// reader, whose refusal is its one problem; a beat list by its reader and
// its fit, whose sections follow the summary.
bool CheckMapFile(Console& console, const char* name, const FitOptions& fit, int64_t& problems) {
  static_assert(sizeof(RunState) < size_t{512} * 1024, "the state lives on the stack");
  RunState state;
  InitRunState(state);
  state.fitOptions = fit;
  if (!LoadMapWithWarnings(console.out, console.in, state, name, problems)) return false;
  if (state.fitted != nullptr) PrintFittedSections(console.out, *state.fitted);
  return true;
}

}  // namespace

int RunCheck(Console& console, const Arguments& arguments, const FitOptions& fit) {
  if (arguments.count != 1) {
    std::fputs("Error: --check takes one tempo map and nothing more! (see beatstamps1a --help)\n",
               console.out);
    return 1;
  }
  PrintBanner(console.out);
  int64_t problems = 0;
  if (!CheckMapFile(console, arguments.values[0], fit, problems)) return 1;
  return problems == 0 ? 0 : 1;
}
