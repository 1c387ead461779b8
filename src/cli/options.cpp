#include "cli/options.h"

#include <cstring>

namespace {

bool StartsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Error lines quote at most this much of what was typed.
constexpr int kQuotedLimit = 64;

bool Refuse(Failure& failure, const char* what, const char* given) {
  SetFailure(failure, "Error: Unknown %s %.*s! (see beatstamps1a --help)\n", what, kQuotedLimit,
             given);
  return false;
}

bool ChooseFormat(const char* name, CommandLine& line, Failure& failure) {
  line.format = FindExportFormat(name);
  return line.format != nullptr || Refuse(failure, "format", name);
}

constexpr const char* kOffset = "--offset=";
constexpr const char* kCountIn = "--count-in=";
constexpr const char* kAudio = "--audio=";

// The options that place the grid in a recording, each with its value after "=".
bool IsPlacementOption(const char* option) {
  return StartsWith(option, kOffset) || StartsWith(option, kCountIn) || StartsWith(option, kAudio);
}

bool ReadPlacementOption(const char* option, ExportOptions& options, Failure& failure) {
  if (StartsWith(option, kOffset)) {
    return ReadOffsetOption(option + std::strlen(kOffset), options.offset, failure);
  }
  if (StartsWith(option, kCountIn)) {
    return ReadCountInOption(option + std::strlen(kCountIn), options.countIn, failure);
  }
  return ReadAudioOption(option + std::strlen(kAudio), options.audioName, failure);
}

// Options that a run of the given kind cannot take, or that need a map and
// an output file the command line does not give.
bool CheckCombination(const CommandLine& line, Failure& failure) {
  const bool placed = AnyExportOption(line.exportOptions);
  if (line.check && (line.format != nullptr || placed)) {
    SetFailure(failure, "Error: --check takes no other option! (see beatstamps1a --help)\n");
    return false;
  }
  if (line.check || line.positional.count >= 2) return true;
  if (line.format != nullptr) {
    SetFailure(failure,
               "Error: --format needs a tempo map and an output file! (see beatstamps1a --help)\n");
    return false;
  }
  if (placed) {
    SetFailure(failure,
               "Error: --offset, --count-in and --audio need a tempo map and an output file! "
               "(see beatstamps1a --help)\n");
    return false;
  }
  return true;
}

// Reads the option at arguments[k]; `--format NAME` also takes the word after
// it, so k may move on by one.
bool ReadOption(int argumentCount, char** arguments, int& k, CommandLine& line, Failure& failure) {
  const char* option = arguments[k];
  if (std::strcmp(option, "--help") == 0) {
    line.help = true;
    return true;
  }
  if (std::strcmp(option, "--version") == 0) {
    line.version = true;
    return true;
  }
  if (std::strcmp(option, "--check") == 0) {
    line.check = true;
    return true;
  }
  if (StartsWith(option, "--format=")) {
    return ChooseFormat(option + std::strlen("--format="), line, failure);
  }
  if (std::strcmp(option, "--format") == 0 && k + 1 < argumentCount) {
    return ChooseFormat(arguments[++k], line, failure);
  }
  if (IsPlacementOption(option)) return ReadPlacementOption(option, line.exportOptions, failure);
  return Refuse(failure, "option", option);
}

}  // namespace

bool ReadCommandLine(int argumentCount, char** arguments, CommandLine& line, Failure& failure) {
  line = CommandLine{false, false, false, nullptr, Arguments{0, nullptr}, ExportOptions{}};
  int k = 1;
  for (; k < argumentCount && StartsWith(arguments[k], "--"); ++k) {
    if (std::strcmp(arguments[k], "--") == 0) {
      ++k;
      break;
    }
    if (!ReadOption(argumentCount, arguments, k, line, failure)) return false;
    if (line.help || line.version) break;
  }
  line.positional = Arguments{argumentCount - k, arguments + k};
  return line.help || line.version || CheckCombination(line, failure);
}

void PrintUsage(FILE* out) {
  std::fputs(
      "Usage:\n"
      "  beatstamps1a                  interactive, on the single default section\n"
      "  beatstamps1a MAP              interactive, with the tempo map MAP read first\n"
      "  beatstamps1a MAP OUT [RATE [START [STOP [DIVISIONS]]]]\n"
      "                                append the beat grid of MAP to OUT and exit\n"
      "  beatstamps1a --format=FORMAT MAP OUT [RATE [START [STOP [DIVISIONS]]]]\n"
      "                                write the beat grid of MAP to OUT as FORMAT\n"
      "  beatstamps1a [--offset=TIME] [--count-in=N] [--audio=NAME] [--format=FORMAT]\n"
      "               MAP OUT [RATE [START [STOP [DIVISIONS]]]]\n"
      "                                the same, placed in a recording\n"
      "  beatstamps1a --check MAP      name each problem of MAP by its line, and what is read\n"
      "  beatstamps1a --help           show this text\n"
      "  beatstamps1a --version        show the version\n"
      "\n"
      "MAP is a tempo map text file, or a MIDI file from a sequencer or notation\n"
      "program (read as one when it begins with MThd). RATE is in samples per\n"
      "second, START and STOP are measures counted from 1, DIVISIONS are steps per\n"
      "beat (read only when all six are given).\n"
      "\n"
      "Options of the batch run and the exports:\n"
      "  --offset=TIME   measure 1 begins TIME into the recording: seconds (1.25, -0.5)\n"
      "                  or whole samples (60000smp); points before 0 are left out\n"
      "            beatstamps1a --offset=-0.5 --format=labels song.map labels.txt 48000\n"
      "  --count-in=N    the click track and the MIDI file begin with N measures\n"
      "                  (0 to 16) of clicks, ending where measure 1 begins\n"
      "            beatstamps1a --count-in=2 --format=click song.map click.wav 48000\n"
      "  --audio=NAME    the recording the osu and ssc files name (default audio.mp3)\n"
      "            beatstamps1a --audio=song.ogg --format=ssc song.map song.ssc\n"
      "\n"
      "Formats (all but grid replace OUT, and OUT - sends their data to standard output):\n",
      out);
  // Every format with its summary and example.
  for (int k = 0; const ExportFormat* format = ExportFormatAt(k); ++k) {
    std::fprintf(out, "  %-8s%s\n            %s\n", format->name, format->summary, format->example);
  }
}
