#include "cli/map_problems.h"

#include <cctype>
#include <cinttypes>

#include "maps/tempo_map.h"

namespace {

const char* FieldName(MapField field) {
  switch (field) {
    case MapField::kTempo:
      return "tempo";
    case MapField::kBeats:
      return "beats";
    case MapField::kMeasures:
      return "measures";
    case MapField::kRate:
      return "rate";
    case MapField::kDivisions:
      return "div";
    case MapField::kStart:
      return "start";
    case MapField::kStop:
      return "stop";
    case MapField::kOffset:
      return "offset";
  }
  return "value";
}

bool IsSectionField(MapField field) {
  return field == MapField::kTempo || field == MapField::kBeats || field == MapField::kMeasures;
}

// The command word of the line a field stands on.
const char* CommandOf(MapField field) {
  return IsSectionField(field) ? "tmap" : FieldName(field);
}

// What the line lacks: a section's field by its name, another line's value.
const char* LackedName(MapField field) {
  return IsSectionField(field) ? FieldName(field) : "value";
}

// The tempo as it reads (single precision) and other values as integers.
void PrintValue(FILE* out, MapField field, double value) {
  if (field == MapField::kTempo) {
    std::fprintf(out, "%g", value);
  } else {
    std::fprintf(out, "%.0f", value);
  }
}

// The text between quotes, with what cannot be seen written out.
void PrintQuoted(FILE* out, const MapProblem& problem) {
  std::fputc('"', out);
  for (int k = 0; k < problem.textLength; ++k) {
    const auto character = static_cast<unsigned char>(problem.text[k]);
    if (character == '\t') {
      std::fputs("\\t", out);
    } else if (character == '\r') {
      std::fputs("\\r", out);
    } else if (character == '"' || character == '\\') {
      std::fprintf(out, "\\%c", character);
    } else if (character < 0x20 || character == 0x7f) {
      std::fprintf(out, "\\x%02x", character);
    } else {
      std::fputc(character, out);
    }
  }
  if (problem.textCut) std::fputs("...", out);
  std::fputc('"', out);
}

// Why a word that resembles a command word is none.
const char* LookalikeReason(const MapProblem& problem) {
  const char* text = problem.text;
  const int length = problem.textLength;
  if (length > 0 && std::isspace(static_cast<unsigned char>(text[0]))) {
    return "a blank stands before it";
  }
  for (int k = 0; k + 1 < length; ++k) {
    if (std::isspace(static_cast<unsigned char>(text[k])) &&
        !std::isspace(static_cast<unsigned char>(text[k + 1]))) {
      return "blanks stand where tabs belong";
    }
  }
  for (int k = 0; k < length; ++k) {
    if (std::isupper(static_cast<unsigned char>(text[k]))) return "command words are lower case";
  }
  return "a blank follows it";
}

void PrintFieldProblem(FILE* out, const MapProblem& problem) {
  const char* name = FieldName(problem.field);
  switch (problem.kind) {
    case MapProblemKind::kTextAfterNumber:
      std::fprintf(out, "%s ", name);
      PrintQuoted(out, problem);
      std::fputs(" is read as ", out);
      PrintValue(out, problem.field, problem.value);
      break;
    case MapProblemKind::kNotANumber:
      std::fprintf(out, "%s ", name);
      PrintQuoted(out, problem);
      std::fputs(" is not a number, and is read as 0", out);
      break;
    case MapProblemKind::kEmptyField:
      std::fprintf(out, "%s is empty, and is read as 0", name);
      break;
    case MapProblemKind::kPast32Bits:
      std::fprintf(out, "%s ", name);
      PrintQuoted(out, problem);
      std::fputs(" is past the 32-bit range, and is read as ", out);
      PrintValue(out, problem.field, problem.value);
      break;
    default:
      break;
  }
}

void PrintMissingField(FILE* out, const MapProblem& problem) {
  std::fprintf(out, "the %s line ends before its %s", CommandOf(problem.field),
               LackedName(problem.field));
  if (problem.kind == MapProblemKind::kFieldAfterEnd) {
    std::fputs(", at the end of the map: read as 0", out);
    return;
  }
  std::fprintf(out, ": read from line %" PRId64 " as ", problem.sourceLine);
  PrintValue(out, problem.field, problem.value);
  std::fprintf(out, ", which swallows line %" PRId64, problem.sourceLine);
}

void PrintNotAboveZero(FILE* out, const MapProblem& problem) {
  std::fprintf(out, "%s ", FieldName(problem.field));
  PrintValue(out, problem.field, problem.value);
  std::fputs(" is not above 0: ", out);
  if (problem.field != MapField::kMeasures) {
    std::fputs("the map's grid is refused", out);
  } else if (problem.value == 0) {
    std::fputs("the section is skipped", out);
  } else {
    std::fputs("the section is skipped, yet its measures count in the map's totals", out);
  }
}

void PrintRate(FILE* out, const MapProblem& problem) {
  if (problem.value == 0) {
    std::fputs("rate 0 gives every sample position as 0", out);
    return;
  }
  std::fputs("rate ", out);
  PrintQuoted(out, problem);
  std::fprintf(out, " is read as %.0f, above %" PRId32 " samples per second", problem.value,
               INT32_MAX);
}

void PrintWholeMapProblem(FILE* out, const MapProblem& problem) {
  switch (problem.kind) {
    case MapProblemKind::kLookalikeWord:
      PrintQuoted(out, problem);
      std::fprintf(out, " is not a command word (%s): the line is skipped",
                   LookalikeReason(problem));
      break;
    case MapProblemKind::kSectionsCapped:
      std::fprintf(out,
                   "section %" PRId32 " is past the %" PRId32
                   " that are read: this tmap line and every later one are ignored",
                   kMaxReadSections + 1, kMaxReadSections);
      break;
    case MapProblemKind::kTotalWraps:
      std::fprintf(out, "the map's %s pass the 32-bit range here: their total wraps to %.0f",
                   FieldName(problem.field), problem.value);
      break;
    case MapProblemKind::kNoSections:
      std::fprintf(out,
                   "no tmap line: the map has no sections, so a report is one made-up section "
                   "at %g beats per minute and the other formats refuse it",
                   problem.value);
      break;
    case MapProblemKind::kZeroByte:
      std::fputs("a zero byte (UTF-16 text?): the map is read only up to it", out);
      break;
    case MapProblemKind::kLoneCarriageReturn:
      std::fputs("a CR ends a line without a LF: lines are read as one up to the next LF", out);
      break;
    default:
      break;
  }
}

// "LIST:LINE: what is wrong: the line is left out".
void PrintBeatLineProblem(FILE* out, const char* listName, const BeatLineProblem& problem) {
  switch (problem.kind) {
    case BeatLineProblemKind::kNotATime:
      std::fprintf(out, "%s:%i: \"%s\" is not a time in seconds: the line is left out\n", listName,
                   problem.line, problem.text.c_str());
      return;
    case BeatLineProblemKind::kNotAfterPrevious:
      std::fprintf(out,
                   "%s:%i: %.6f does not come after the beat before it (%.6f): the line is "
                   "left out\n",
                   listName, problem.line, problem.seconds, problem.previous);
      return;
    case BeatLineProblemKind::kBadBeatNumber:
      std::fprintf(out,
                   "%s:%i: \"%s\" is not a beat's number in its measure (1 on a downbeat): the "
                   "line is left out\n",
                   listName, problem.line, problem.text.c_str());
      return;
  }
}

void Report(void* context, const MapProblem& problem) {
  auto& printer = *static_cast<ProblemPrinter*>(context);
  PrintMapProblem(printer.out, printer.mapName, problem);
  ++printer.count;
}

}  // namespace

void PrintMapProblem(FILE* out, const char* mapName, const MapProblem& problem) {
  std::fprintf(out, "%s:%" PRId64 ": ", mapName, problem.line);
  switch (problem.kind) {
    case MapProblemKind::kTextAfterNumber:
    case MapProblemKind::kNotANumber:
    case MapProblemKind::kEmptyField:
    case MapProblemKind::kPast32Bits:
      PrintFieldProblem(out, problem);
      break;
    case MapProblemKind::kFieldOnLaterLine:
    case MapProblemKind::kFieldAfterEnd:
      PrintMissingField(out, problem);
      break;
    case MapProblemKind::kNotAboveZero:
      PrintNotAboveZero(out, problem);
      break;
    case MapProblemKind::kRateOutOfRange:
      PrintRate(out, problem);
      break;
    case MapProblemKind::kNotATime:
      std::fputs("offset ", out);
      PrintQuoted(out, problem);
      std::fputs(" is not a time (seconds, or whole samples with smp): the line is skipped", out);
      break;
    default:
      PrintWholeMapProblem(out, problem);
      break;
  }
  std::fputc('\n', out);
}

MapDiagnostics PrintingDiagnostics(ProblemPrinter& printer) {
  return MapDiagnostics{&printer, Report};
}

void ReportMidiProblems(ProblemPrinter& printer, const MidiContents& contents) {
  if (contents.trailingBytes == 0) return;
  std::fprintf(printer.out,
               "%s: %" PRIu64 " %s after the last chunk cannot start a chunk, and %s passed over\n",
               printer.mapName, contents.trailingBytes,
               contents.trailingBytes == 1 ? "byte" : "bytes",
               contents.trailingBytes == 1 ? "is" : "are");
  ++printer.count;
}

void ReportBeatLineProblems(ProblemPrinter& printer, const std::vector<BeatLineProblem>& problems) {
  for (const BeatLineProblem& problem : problems) {
    PrintBeatLineProblem(printer.out, printer.mapName, problem);
    ++printer.count;
  }
}
