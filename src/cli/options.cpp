#include "cli/options.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "cli/grid_arguments.h"
#include "maps/sound_file.h"

namespace {

bool StartsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Error lines quote at most this much of what was typed.
constexpr int kQuotedLimit = 64;

// "-h" is the short --help that users type first.
bool IsOption(const char* argument) {
  return StartsWith(argument, "--") || std::strcmp(argument, "-h") == 0;
}

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
constexpr const char* kZoom = "--zoom=";

// The options that place the grid in a recording, each with its value after "=".
bool IsPlacementOption(const char* option) {
  return StartsWith(option, kOffset) || StartsWith(option, kCountIn) ||
         StartsWith(option, kAudio) || StartsWith(option, kZoom);
}

bool ReadPlacementOption(const char* option, ExportOptions& options, Failure& failure) {
  if (StartsWith(option, kOffset)) {
    return ReadOffsetOption(option + std::strlen(kOffset), options.offset, failure);
  }
  if (StartsWith(option, kCountIn)) {
    return ReadCountInOption(option + std::strlen(kCountIn), options.countIn, failure);
  }
  if (StartsWith(option, kZoom)) {
    return ReadZoomOption(option + std::strlen(kZoom), options.zoom, failure);
  }
  return ReadAudioOption(option + std::strlen(kAudio), options.audioName, failure);
}

constexpr const char* kTolerance = "--tolerance=";
constexpr const char* kMeter = "--meter=";
constexpr const char* kTempoStep = "--tempo-step=";
constexpr const char* kDownbeat = "--downbeat=";
constexpr long kMostMeter = 1000;
constexpr double kMostTempoStep = 1000.0;

// The options of a beat list's fit, each with its value after "=".
bool IsFitOption(const char* option) {
  return StartsWith(option, kTolerance) || StartsWith(option, kMeter) ||
         StartsWith(option, kTempoStep) || StartsWith(option, kDownbeat);
}

// The whole text is a finite number within [lowest, highest]; `above` makes
// the lower end open.
bool ReadReal(const char* text, double lowest, bool above, double highest, double& value) {
  char* end = nullptr;
  const double read = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(read) || read > highest) return false;
  if (above ? !(read > lowest) : !(read >= lowest)) return false;
  value = read;
  return true;
}

bool ReadFitOption(const char* option, FitOptions& fit, Failure& failure) {
  double value = 0.0;
  if (StartsWith(option, kTolerance)) {
    if (ReadReal(option + std::strlen(kTolerance), 0.0, true, kMostToleranceMs, fit.toleranceMs)) {
      return true;
    }
    SetFailure(failure, "Error: --tolerance takes milliseconds above 0, at most %g!\n",
               kMostToleranceMs);
    return false;
  }
  if (StartsWith(option, kMeter)) {
    const char* text = option + std::strlen(kMeter);
    char* end = nullptr;
    const long meter = std::strtol(text, &end, 10);
    if (end != text && *end == '\0' && meter >= 1 && meter <= kMostMeter) {
      fit.meter = static_cast<int32_t>(meter);
      return true;
    }
    SetFailure(failure, "Error: --meter takes a whole number of beats from 1 to %li!\n",
               kMostMeter);
    return false;
  }
  if (StartsWith(option, kTempoStep)) {
    if (ReadReal(option + std::strlen(kTempoStep), 0.0, true, kMostTempoStep, fit.tempoStep)) {
      return true;
    }
    SetFailure(failure, "Error: --tempo-step takes beats per minute above 0, at most %g!\n",
               kMostTempoStep);
    return false;
  }
  if (ReadReal(option + std::strlen(kDownbeat), -HUGE_VAL, false, HUGE_VAL, value)) {
    fit.downbeatGiven = true;
    fit.downbeatSeconds = value;
    return true;
  }
  SetFailure(failure, "Error: --downbeat takes a time in seconds (12.5)!\n");
  return false;
}

constexpr const char* kFirstMeasure = "--first-measure=";
constexpr const char* kBeat = "--beat=";
constexpr const char* kArtist = "--artist=";
constexpr const char* kCreator = "--creator=";
constexpr const char* kOsuMode = "--osu-mode=";
constexpr const char* kMidiTempo = "--midi-tempo=";

// Options of the batch run and the exports that say how the grid is counted,
// how strictly the run takes what it is given, and what the files credit.
bool IsRunOption(const char* option) {
  return std::strcmp(option, "--strict") == 0 || StartsWith(option, kFirstMeasure) ||
         StartsWith(option, kBeat) || StartsWith(option, kArtist) || StartsWith(option, kCreator) ||
         StartsWith(option, kOsuMode) || StartsWith(option, kMidiTempo);
}

// The options whose values the exports read.
bool ReadFileOption(const char* option, ExportOptions& options, Failure& failure) {
  if (StartsWith(option, kArtist)) {
    return ReadCreditOption("--artist", option + std::strlen(kArtist), options.artist, failure);
  }
  if (StartsWith(option, kCreator)) {
    return ReadCreditOption("--creator", option + std::strlen(kCreator), options.creator, failure);
  }
  if (StartsWith(option, kOsuMode)) {
    return ReadOsuModeOption(option + std::strlen(kOsuMode), options.osuMode, failure);
  }
  return ReadMidiTempoOption(option + std::strlen(kMidiTempo), options.midiTempo, failure);
}

bool ReadRunOption(const char* option, CommandLine& line, Failure& failure) {
  if (std::strcmp(option, "--strict") == 0) {
    line.strict = true;
    return true;
  }
  if (StartsWith(option, kFirstMeasure)) {
    const char* text = option + std::strlen(kFirstMeasure);
    if (ReadWholeNumber(text, line.firstMeasure)) return true;
    SetFailure(failure,
               "Error: --first-measure takes a whole number, such as 0 or 1, not \"%.*s\"!\n",
               kQuotedLimit, text);
    return false;
  }
  if (!StartsWith(option, kBeat)) return ReadFileOption(option, line.exportOptions, failure);
  const char* text = option + std::strlen(kBeat);
  if (std::strcmp(text, "dotted") == 0 || std::strcmp(text, "note") == 0) {
    line.beat = text[0] == 'd' ? MidiBeat::kDotted : MidiBeat::kNote;
    return true;
  }
  SetFailure(failure, "Error: --beat takes dotted or note, not \"%.*s\"!\n", kQuotedLimit, text);
  return false;
}

// Options that a run of the given kind cannot take, or that need a map and
// an output file the command line does not give.
bool CheckCombination(const CommandLine& line, Failure& failure) {
  const bool placed = AnyExportOption(line.exportOptions);
  if (line.check && (line.format != nullptr || placed || line.runOption != nullptr)) {
    SetFailure(failure, "Error: --check takes no other option! (see beatstamps1a --help)\n");
    return false;
  }
  if (line.check || line.positional.count >= 2) return true;
  if (line.format != nullptr) {
    SetFailure(failure,
               "Error: --format needs a tempo map and an output file! (see beatstamps1a --help)\n");
    return false;
  }
  if (placed && line.exportOptions.zoom != 0 && !line.exportOptions.offset.given &&
      line.exportOptions.countIn == 0 && line.exportOptions.audioName == nullptr) {
    SetFailure(failure,
               "Error: --zoom needs a tempo map and an output file! (see beatstamps1a --help)\n");
    return false;
  }
  if (placed) {
    SetFailure(failure,
               "Error: --offset, --count-in and --audio need a tempo map and an output file! "
               "(see beatstamps1a --help)\n");
    return false;
  }
  if (line.runOption != nullptr) {
    // The option's name, without its value.
    const int name = static_cast<int>(std::strcspn(line.runOption, "="));
    SetFailure(failure,
               "Error: %.*s needs a tempo map and an output file! (see beatstamps1a --help)\n",
               std::min(name, kQuotedLimit), line.runOption);
    return false;
  }
  if (line.positional.count == 1 && IsStandardStream(line.positional.values[0])) {
    SetFailure(failure,
               "Error: An interactive run reads its commands from standard input; its map "
               "cannot come from there!\n");
    return false;
  }
  return true;
}

// An option typed after MAP would be read as a file name or a number.
bool CheckNoLateOption(const Arguments& positional, Failure& failure) {
  for (int k = 0; k < positional.count; ++k) {
    const char* argument = positional.values[k];
    if (StartsWith(argument, "--") || std::strcmp(argument, "-h") == 0) {
      SetFailure(failure,
                 "Error: Options come first, before MAP: %.*s stands after it! (see "
                 "beatstamps1a --help)\n",
                 kQuotedLimit, argument);
      return false;
    }
  }
  return true;
}

// Reads the option at arguments[k]; `--format NAME` also takes the word after
// it, so k may move on by one.
bool ReadOption(int argumentCount, char** arguments, int& k, CommandLine& line, Failure& failure) {
  const char* option = arguments[k];
  line.optionCount += 1;
  if (std::strcmp(option, "--help") == 0 || std::strcmp(option, "-h") == 0) {
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
  if (IsRunOption(option)) {
    if (line.runOption == nullptr) line.runOption = option;
    return ReadRunOption(option, line, failure);
  }
  if (StartsWith(option, "--format=")) {
    return ChooseFormat(option + std::strlen("--format="), line, failure);
  }
  if (std::strcmp(option, "--format") == 0 && k + 1 < argumentCount) {
    return ChooseFormat(arguments[++k], line, failure);
  }
  if (IsPlacementOption(option)) return ReadPlacementOption(option, line.exportOptions, failure);
  if (IsFitOption(option)) return ReadFitOption(option, line.fit, failure);
  return Refuse(failure, "option", option);
}

}  // namespace

bool ReadCommandLine(int argumentCount, char** arguments, CommandLine& line, Failure& failure) {
  line = CommandLine{false,
                     false,
                     false,
                     false,
                     0,
                     nullptr,
                     1,
                     MidiBeat::kNote,
                     nullptr,
                     Arguments{0, nullptr},
                     ExportOptions{},
                     DefaultFitOptions()};
  int k = 1;
  bool ended = false;  // "--" ends the options: what follows is taken as it stands
  for (; k < argumentCount && IsOption(arguments[k]); ++k) {
    if (std::strcmp(arguments[k], "--") == 0) {
      ++k;
      ended = true;
      break;
    }
    if (!ReadOption(argumentCount, arguments, k, line, failure)) return false;
    if (line.help || line.version) break;
  }
  line.positional = Arguments{argumentCount - k, arguments + k};
  if (line.help || line.version) return true;
  return (ended || CheckNoLateOption(line.positional, failure)) && CheckCombination(line, failure);
}

bool IsStandardStream(const char* name) {
  return std::strcmp(name, "-") == 0;
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
      "  beatstamps1a --help, -h       show this text\n"
      "  beatstamps1a --version        show the version\n"
      "\n"
      "MAP is a tempo map text file, a MIDI file from a sequencer or notation\n"
      "program (read as one when it begins with MThd, or is an RMID file), a list of\n"
      "beat times (a text file with no tmap line whose first line begins with a\n"
      "number, or a CSV file with a header line), or a recording (WAV, AIFF, FLAC,\n"
      "Ogg, MP3: told by its first bytes) whose beats are found; beats are fitted\n"
      "into the fewest sections of constant tempo and meter that keep every beat\n"
      "within the tolerance, and a recording's grid is at its own rate without\n"
      "RATE. - reads MAP from standard input (not in an interactive run). RATE is\n"
      "in samples per second, START and STOP are measures counted from 1,\n"
      "DIVISIONS are steps per beat (read only when all six are given). With any\n"
      "option, and in an export, each must be a whole number. Options come before\n"
      "MAP.\n"
      "\n"
      "Options of the batch run and the exports:\n"
      "  --strict        any warning about the map or the arguments ends the run\n"
      "                  with status 1 before anything is written\n"
      "  --first-measure=N  number the measures from N (0 for a pickup) in every\n"
      "                  format and in START and STOP (default 1)\n"
      "            beatstamps1a --first-measure=0 --format=csv song.mid grid.csv 48000 0 8\n"
      "  --beat=dotted   count a MIDI map's 6/8, 9/8, 12/8... in dotted beats\n"
      "                  (--beat=note, the default: in eighths)\n"
      "  --midi-tempo=section  the MIDI file holds one tempo a section, each click on\n"
      "                  the tick nearest its time (default: exact, carried beat by beat)\n"
      "  --artist=NAME, --creator=NAME, --osu-mode=osu|taiko|catch|mania\n"
      "                  what the osu file credits, and its game\n"
      "            beatstamps1a --artist=Mara --osu-mode=mania --format=osu song.map song.osu\n"
      "  --offset=TIME   measure 1 begins TIME into the recording: seconds (1.25, -0.5)\n"
      "                  or whole samples (60000smp); points before 0 are left out\n"
      "            beatstamps1a --offset=-0.5 --format=labels song.map labels.txt 48000\n"
      "  --count-in=N    the click track and the MIDI file begin with N measures\n"
      "                  (0 to 16) of clicks, ending where measure 1 begins\n"
      "            beatstamps1a --count-in=2 --format=click song.map click.wav 48000\n"
      "  --audio=NAME    the recording the osu and ssc files name (default audio.mp3)\n"
      "            beatstamps1a --audio=song.ogg --format=ssc song.map song.ssc\n"
      "                  and the recording the svg picture draws\n"
      "  --zoom=PX       the svg picture's scale: PX pixels a second (1 to 10000; 100)\n"
      "            beatstamps1a --zoom=200 --format=svg song.wav song.svg\n"
      "\n"
      "Options of a list of beat times read as MAP (any run):\n"
      "  --tolerance=MS  a kept beat lies within MS milliseconds of its grid beat\n"
      "                  (default 25); beats no section holds are left out\n"
      "  --meter=N       beats per measure of a list without beat numbers (default 4)\n"
      "  --downbeat=TIME measure 1 at the listed beat nearest TIME seconds (default:\n"
      "                  the first beat)\n"
      "  --tempo-step=BPM  tempos rounded to whole multiples of BPM (1: whole tempos)\n"
      "            beatstamps1a --tolerance=20 --format=map taps.txt song.map\n"
      "\n"
      "Formats (all but grid replace OUT, and OUT - sends the data to standard output):\n",
      out);
  // Every format with its summary and example.
  for (int k = 0; const ExportFormat* format = ExportFormatAt(k); ++k) {
    std::fprintf(out, "  %-8s%s\n            %s\n", format->name, format->summary, format->example);
  }
  std::fputs(ReadsRecordings()
                 ? "\nThis build reads recordings (with libsndfile) and finds their beats (with "
                   "qm-dsp).\n"
                 : "\nThis build reads no recordings: it was built without the Debian packages "
                   "libsndfile1-dev and libqm-dsp-dev.\n",
             out);
}
