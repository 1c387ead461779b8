#include "cli/command_loop.h"

#include <cstring>

#include "base/int32_math.h"
#include "cli/help_text.h"
#include "cli/session.h"

namespace {

constexpr int kCommandWordLimit = 7;

// What the loop does after a command.
enum class Next {
  kGoOn,
  kQuit,  // as after "q": standard input has ended
  kFail,  // end the program with status 1
};

// A command's action; `prompt` is what it asks for, if anything.
using Action = Next (*)(Console& console, RunState& state, const char* prompt);
// Prints the value a line of the command list shows after its text.
using ShownValue = void (*)(FILE* out, const RunState& state);

struct Command {
  const char* heading;  // printed before the command's line in the list, or null
  const char* word;
  const char* listed;  // the list's text after the word
  ShownValue shown;    // or null
  const char* prompt;  // or null
  Action action;       // null for "l" and "q", which act in the loop itself
};

// What the loop makes of a value asked for at a prompt.
Next AfterPrompt(InputStatus status) {
  return status == InputStatus::kEnded ? Next::kQuit : Next::kGoOn;
}

InputStatus AskInteger(Console& console, const char* prompt, int32_t& value) {
  std::fputs(prompt, console.out);
  return ReadInteger(console, value);
}

Next ChangeSampleRate(Console& console, RunState& state, const char* prompt) {
  int32_t rate = 0;
  const InputStatus status = AskInteger(console, prompt, rate);
  if (status == InputStatus::kRead) state.settings.sampleRate = static_cast<uint32_t>(rate);
  return AfterPrompt(status);
}

// A MIDI map's tempo and meter are its file's: nothing is asked.
bool SayMidiMapDecides(Console& console, const RunState& state) {
  if (state.textMapInForce) return false;
  std::fprintf(console.out, "Tempo and meter come from the MIDI file %s\n", state.midi->fileName);
  return true;
}

Next ChangeTempo(Console& console, RunState& state, const char* prompt) {
  if (SayMidiMapDecides(console, state)) return Next::kGoOn;
  std::fputs(prompt, console.out);
  return AfterPrompt(ReadReal(console, state.map.tempo[0]));
}

Next ChangeBeatsPerMeasure(Console& console, RunState& state, const char* prompt) {
  if (SayMidiMapDecides(console, state)) return Next::kGoOn;
  return AfterPrompt(AskInteger(console, prompt, state.map.beatsPerMeasure[0]));
}

// Measures are entered 1-based and stored 0-based.
InputStatus ChangeMeasure(Console& console, const char* prompt, int32_t& measure) {
  int32_t entered = 0;
  const InputStatus status = AskInteger(console, prompt, entered);
  if (status == InputStatus::kRead) measure = WrappingSubtract(entered, 1);
  return status;
}

Next ChangeStartMeasure(Console& console, RunState& state, const char* prompt) {
  return AfterPrompt(ChangeMeasure(console, prompt, state.settings.startMeasure));
}

// A stop typed is the user's own, whatever the after-load rule gave before.
Next ChangeStopMeasure(Console& console, RunState& state, const char* prompt) {
  const InputStatus status = ChangeMeasure(console, prompt, state.settings.stopMeasure);
  if (status == InputStatus::kRead) state.stopAtMidiEnd = false;
  return AfterPrompt(status);
}

Next ChangeDivisions(Console& console, RunState& state, const char* prompt) {
  return AfterPrompt(AskInteger(console, prompt, state.settings.divisionsPerBeat));
}

Next ChangeOutputFileName(Console& console, RunState& state, const char* prompt) {
  return AfterPrompt(AskFileName(console, prompt, state.outputFileName));
}

Next ReadTempoMap(Console& console, RunState& state, const char* /*prompt*/) {
  if (LoadAskedMap(console, state) == InputStatus::kEnded) return Next::kQuit;
  state.mapLoaded = true;
  return Next::kGoOn;
}

Next PrintToScreen(Console& console, RunState& state, const char* /*prompt*/) {
  ApplyRangeGuard(state);
  if (!RenderReport(console, state)) return Next::kFail;
  std::fwrite(state.report.text, 1, static_cast<size_t>(state.report.length), console.out);
  PrintTruncationWarning(console.out, console.errors, state.report);
  return Next::kGoOn;
}

Next Save(Console& console, RunState& state, OutputMode mode) {
  ApplyRangeGuard(state);
  if (!RenderReport(console, state)) return Next::kFail;
  InputStatus input = InputStatus::kRead;
  SaveReport(console, state, false, mode, input);
  return AfterPrompt(input);
}

Next WriteToFile(Console& console, RunState& state, const char* /*prompt*/) {
  return Save(console, state, OutputMode::kReplace);
}

Next AppendToFile(Console& console, RunState& state, const char* /*prompt*/) {
  return Save(console, state, OutputMode::kAppend);
}

Next ShowHelp(Console& console, RunState& /*state*/, const char* /*prompt*/) {
  PrintHelp(console.out);
  return Next::kGoOn;
}

void ShowSampleRate(FILE* out, const RunState& state) {
  std::fprintf(out, " (%i)", static_cast<int32_t>(state.settings.sampleRate));
}

// Section 1 of the map in force.
void ShowTempo(FILE* out, const RunState& state) {
  const double tempo = HeadingOf(MapInForce(state), 0).tempo;
  std::fprintf(out, " (%.3f)", tempo);
}

void ShowBeatsPerMeasure(FILE* out, const RunState& state) {
  const int32_t beats = HeadingOf(MapInForce(state), 0).beatsPerMeasure;
  std::fprintf(out, " (%i)", beats);
}

// Measures are shown 1-based.
void ShowStartMeasure(FILE* out, const RunState& state) {
  std::fprintf(out, " (%i)", WrappingAdd(state.settings.startMeasure, 1));
}

void ShowStopMeasure(FILE* out, const RunState& state) {
  std::fprintf(out, " (%i)", WrappingAdd(state.settings.stopMeasure, 1));
}

void ShowDivisions(FILE* out, const RunState& state) {
  std::fprintf(out, " (%i)", state.settings.divisionsPerBeat);
}

void ShowOutputFileName(FILE* out, const RunState& state) {
  std::fprintf(out, ": %s", state.outputFileName);
}

// The commands in the order of the command list.
constexpr Command kCommands[] = {
    {"\nInput Settings:\n", "r", "to change sample rate", ShowSampleRate,
     "Enter sample rate (samples per second\n", ChangeSampleRate},
    {nullptr, "t", "to change tempo", ShowTempo, "Enter tempo (beats per minute)\n", ChangeTempo},
    {nullptr, "b", "to change beats per measure", ShowBeatsPerMeasure, "Enter beats per measure\n",
     ChangeBeatsPerMeasure},
    {nullptr, "m", "to read tempo map", nullptr, nullptr, ReadTempoMap},
    {"\nOutput Settings:\n", "i", "to change start measure", ShowStartMeasure,
     "Enter start measure\n", ChangeStartMeasure},
    {nullptr, "o", "to change stop measure", ShowStopMeasure, "Enter stop measure\n",
     ChangeStopMeasure},
    {nullptr, "d", "to change divisions per beat", ShowDivisions, "Enter divisions per beat\n",
     ChangeDivisions},
    {nullptr, "p", "to print to screen", nullptr, nullptr, PrintToScreen},
    {nullptr, "w", "to write beatstamps to beginning of file", nullptr, nullptr, WriteToFile},
    {nullptr, "a", "to append beatstamps to existing file", nullptr, nullptr, AppendToFile},
    {nullptr, "f", "to change output filename", ShowOutputFileName, "Enter filename to save to\n",
     ChangeOutputFileName},
    {"\n", "l", "to toggle this list on/off", nullptr, nullptr, nullptr},
    {nullptr, "h", "help", nullptr, nullptr, ShowHelp},
    {nullptr, "q", "to quit", nullptr, nullptr, nullptr},
};

Next CarryOut(const char* word, Console& console, RunState& state) {
  for (const Command& command : kCommands) {
    if (command.action != nullptr && std::strcmp(word, command.word) == 0) {
      return command.action(console, state, command.prompt);
    }
  }
  return Next::kGoOn;
}

}  // namespace

void PrintCommandList(FILE* out, const RunState& state) {
  for (const Command& command : kCommands) {
    if (command.heading != nullptr) std::fputs(command.heading, out);
    std::fprintf(out, "'%s' %s", command.word, command.listed);
    if (command.shown != nullptr) command.shown(out, state);
    std::fputc('\n', out);
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
