#include "options.h"

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

}  // namespace

bool ReadCommandLine(int argumentCount, char** arguments, CommandLine& line, Failure& failure) {
  line = CommandLine{false, false, false, nullptr, Arguments{0, nullptr}};
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
    } else if (std::strcmp(option, "--check") == 0) {
      line.check = true;
    } else if (StartsWith(option, "--format=")) {
      if (!ChooseFormat(option + std::strlen("--format="), line, failure)) return false;
    } else if (std::strcmp(option, "--format") == 0 && k + 1 < argumentCount) {
      if (!ChooseFormat(arguments[++k], line, failure)) return false;
    } else {
      return Refuse(failure, "option", option);
    }
    if (line.help || line.version) break;
  }
  line.positional = Arguments{argumentCount - k, arguments + k};
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
      "  beatstamps1a --check MAP      name each problem of MAP by its line, and what is read\n"
      "  beatstamps1a --help           show this text\n"
      "  beatstamps1a --version        show the version\n"
      "\n"
      "RATE is in samples per second, START and STOP are measures counted from 1,\n"
      "DIVISIONS are steps per beat (read only when all six are given).\n"
      "\n"
      "Formats (all but grid replace OUT, and OUT - sends their data to standard output):\n",
      out);
  PrintExportFormats(out);
}
