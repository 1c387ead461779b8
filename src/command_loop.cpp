#include <cstring>

#include "front_end.h"
#include "int32_math.h"

namespace {

constexpr int kCommandWordLimit = 7;

// What the loop makes of a value asked for at a prompt.
Next AfterPrompt(InputStatus status) {
  return status == InputStatus::kEnded ? Next::kQuit : Next::kGoOn;
}

InputStatus AskInteger(Console& console, const char* prompt, int32_t& value) {
  std::fputs(prompt, console.out);
  return ReadInteger(console, value);
}

Next ChangeSampleRate(Console& console, RunState& state) {
  int32_t rate = 0;
  const InputStatus status = AskInteger(console, "Enter sample rate (samples per second\n", rate);
  if (status == InputStatus::kRead) state.sampleRate = static_cast<uint32_t>(rate);
  return AfterPrompt(status);
}

Next ChangeTempo(Console& console, RunState& state) {
  std::fputs("Enter tempo (beats per minute)\n", console.out);
  return AfterPrompt(ReadReal(console, state.map.tempo[0]));
}

Next ChangeBeatsPerMeasure(Console& console, RunState& state) {
  return AfterPrompt(
      AskInteger(console, "Enter beats per measure\n", state.map.beatsPerMeasure[0]));
}

// Measures are entered 1-based and stored 0-based.
Next ChangeMeasure(Console& console, const char* prompt, int32_t& measure) {
  int32_t entered = 0;
  const InputStatus status = AskInteger(console, prompt, entered);
  if (status == InputStatus::kRead) measure = WrappingSubtract(entered, 1);
  return AfterPrompt(status);
}

Next ChangeStartMeasure(Console& console, RunState& state) {
  return ChangeMeasure(console, "Enter start measure\n", state.startMeasure);
}

Next ChangeStopMeasure(Console& console, RunState& state) {
  return ChangeMeasure(console, "Enter stop measure\n", state.stopMeasure);
}

Next ChangeDivisions(Console& console, RunState& state) {
  return AfterPrompt(AskInteger(console, "Enter divisions per beat\n", state.divisionsPerBeat));
}

Next ChangeOutputFileName(Console& console, RunState& state) {
  return AfterPrompt(AskFileName(console, "Enter filename to save to\n", state.outputFileName));
}

Next PrintToScreen(Console& console, RunState& state) {
  ApplyRangeGuard(state);
  if (!RenderReport(console, state)) return Next::kFail;
  std::fwrite(state.report.text, 1, static_cast<size_t>(state.report.length), console.out);
  PrintTruncationWarning(console, state.report);
  return Next::kGoOn;
}

Next WriteToFile(Console& console, RunState& state) {
  return SaveCommand(console, state, 1);
}

Next AppendToFile(Console& console, RunState& state) {
  return SaveCommand(console, state, 0);
}

Next ShowHelp(Console& console, RunState& /*state*/) {
  PrintHelp(console.out);
  return Next::kGoOn;
}

struct Command {
  const char* word;
  Next (*carryOut)(Console& console, RunState& state);
};

// "l" and "q" act in the loop itself.
constexpr Command kCommands[] = {
    {"r", ChangeSampleRate}, {"t", ChangeTempo},          {"b", ChangeBeatsPerMeasure},
    {"m", LoadMapCommand},   {"i", ChangeStartMeasure},   {"o", ChangeStopMeasure},
    {"d", ChangeDivisions},  {"p", PrintToScreen},        {"w", WriteToFile},
    {"a", AppendToFile},     {"f", ChangeOutputFileName}, {"h", ShowHelp},
};

Next CarryOut(const char* word, Console& console, RunState& state) {
  for (const Command& command : kCommands) {
    if (std::strcmp(word, command.word) == 0) return command.carryOut(console, state);
  }
  return Next::kGoOn;
}

}  // namespace

void PrintCommandList(FILE* out, const RunState& state) {
  const TempoMap& map = state.map;
  std::fputs("\nInput Settings:\n", out);
  std::fprintf(out, "'r' to change sample rate (%i)\n", static_cast<int32_t>(state.sampleRate));
  std::fprintf(out, "'t' to change tempo (%.3f)\n", static_cast<double>(map.tempo[0]));
  std::fprintf(out, "'b' to change beats per measure (%i)\n", map.beatsPerMeasure[0]);
  std::fputs("'m' to read tempo map\n", out);
  std::fputs("\nOutput Settings:\n", out);
  std::fprintf(out, "'i' to change start measure (%i)\n", WrappingAdd(state.startMeasure, 1));
  std::fprintf(out, "'o' to change stop measure (%i)\n", WrappingAdd(state.stopMeasure, 1));
  std::fprintf(out, "'d' to change divisions per beat (%i)\n", state.divisionsPerBeat);
  std::fputs("'p' to print to screen\n", out);
  std::fputs("'w' to write beatstamps to beginning of file\n", out);
  std::fputs("'a' to append beatstamps to existing file\n", out);
  std::fprintf(out, "'f' to change output filename: %s\n", state.outputFileName);
  std::fputs("\n'l' to toggle this list on/off\n", out);
  std::fputs("'h' help\n", out);
  std::fputs("'q' to quit\n", out);
}

void ApplyRangeGuard(RunState& state) {
  TempoMap& map = state.map;
  if (!state.mapLoaded) {
    const int32_t measures =
        WrappingAdd(WrappingSubtract(state.stopMeasure, state.startMeasure), 1);
    map.totalBeats = WrappingMultiply(map.beatsPerMeasure[0], measures);
  }
  if (map.totalBeats <= 0) {
    state.startMeasure = 0;
    state.stopMeasure = 0;
  }
}

int RunCommandLoop(Console& console, RunState& state) {
  char commandWord[kCommandWordLimit + 1] = "0";
  bool listShown = true;
  while (std::strcmp(commandWord, "q") != 0) {
    if (listShown) PrintCommandList(console.out, state);
    const InputStatus read = ReadWord(console, commandWord, kCommandWordLimit);
    if (read == InputStatus::kEnded) return 0;
    // A word too long for the field is no command.
    if (read == InputStatus::kTooLong) commandWord[0] = '\0';
    if (std::strcmp(commandWord, "l") == 0) listShown = !listShown;
    const Next next = CarryOut(commandWord, console, state);
    if (next == Next::kQuit) return 0;
    if (next == Next::kFail || std::ferror(console.out)) return 1;
  }
  return 0;
}
