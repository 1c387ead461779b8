#include "options.h"

#include <cstring>

namespace {

struct FormatName {
  const char* name;
  ExportFormat format;
};

constexpr FormatName kFormats[] = {
    {"grid", ExportFormat::kGrid}, {"labels", ExportFormat::kLabels}, {"csv", ExportFormat::kCsv},
    {"midi", ExportFormat::kMidi}, {"click", ExportFormat::kClick},
};

bool StartsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Error lines quote at most this much of what was typed.
constexpr int kQuotedLimit = 64;

bool Refuse(CommandLine& line, const char* what, const char* given) {
  std::snprintf(line.error, sizeof line.error,
                "Error: Unknown %s %.*s! (see beatstamps1a --help)\n", what, kQuotedLimit, given);
  return false;
}

bool ChooseFormat(const char* name, CommandLine& line) {
  for (const FormatName& known : kFormats) {
    if (std::strcmp(name, known.name) == 0) {
      line.formatGiven = true;
      line.format = known.format;
      return true;
    }
  }
  return Refuse(line, "format", name);
}

}  // namespace

bool ReadOptions(int argumentCount, char** arguments, CommandLine& line) {
  line = CommandLine{false, false, false, ExportFormat::kGrid, 1, ""};
  int k = 1;
  for (; k < argumentCount && StartsWith(arguments[k], "--"); ++k) {
    const char* option = arguments[k];
    if (std::strcmp(option, "--") == 0) {
      ++k;
      break;
    }
    if (std::strcmp(option, "--help") == 0) {
      line.help = true;
    } else if (std::strcmp(option, "--version") == 0) {
      line.version = true;
    } else if (StartsWith(option, "--format=")) {
      if (!ChooseFormat(option + std::strlen("--format="), line)) return false;
    } else if (std::strcmp(option, "--format") == 0 && k + 1 < argumentCount) {
      if (!ChooseFormat(arguments[++k], line)) return false;
    } else {
      return Refuse(line, "option", option);
    }
    if (line.help || line.version) break;
  }
  line.firstPositional = k;
  return true;
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
      "  beatstamps1a --help           show this text\n"
      "  beatstamps1a --version        show the version\n"
      "\n"
      "RATE is in samples per second, START and STOP are measures counted from 1,\n"
      "DIVISIONS are steps per beat (read only when all six are given).\n"
      "\n"
      "Formats (all but grid replace OUT, and OUT - sends their data to standard output):\n"
      "  grid    the report, appended to OUT, as without --format\n"
      "            beatstamps1a --format=grid song.map grid.txt\n"
      "  labels  a label track for audio editors: time, time, M.B or M.B.D\n"
      "            beatstamps1a --format=labels song.map labels.txt\n"
      "  csv     section,measure,beat,division,seconds,sample\n"
      "            beatstamps1a --format=csv song.map grid.csv 48000\n"
      "  midi    a MIDI file: the tempo map and a click at every grid point\n"
      "            beatstamps1a --format=midi song.map song.mid 44100 1 32 2\n"
      "  click   a WAV click track at RATE that lines up with the recording\n"
      "            beatstamps1a --format=click song.map click.wav 48000\n",
      out);
}
