#include "maps/beat_list_reader.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// A problem quotes at most this much of its field.
constexpr size_t kQuotedLimit = 40;

// The text up to its first zero byte, without a byte order mark.
std::string_view ReadableText(std::string_view text) {
  const size_t zero = text.find('\0');
  if (zero != std::string_view::npos) text = text.substr(0, zero);
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    text.remove_prefix(kByteOrderMark.size());
  }
  return text;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Cuts `text` at its next line end; the line goes to `line`.
bool NextLine(std::string_view& text, std::string_view& line) {
  if (text.empty()) return false;
  const size_t end = text.find('\n');
  line = text.substr(0, end);
  text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  return true;
}

// The whole field is a finite number, as strtod reads it.
bool ReadWholeNumber(std::string_view field, double& value) {
  const std::string copy(Trimmed(field));
  if (copy.empty()) return false;
  char* end = nullptr;
  value = std::strtod(copy.c_str(), &end);
  return *end == '\0' && std::isfinite(value);
}

// Digits alone, as a beat number.
bool ReadWholeCount(std::string_view field, int64_t& value) {
  field = Trimmed(field);
  if (field.empty() || field.size() > 9) return false;
  value = 0;
  for (const char c : field) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

bool BeginsWithNumber(std::string_view line) {
  line = Trimmed(line);
  if (line.empty()) return false;
  const char first = line.front();
  if (!((first >= '0' && first <= '9') || first == '.' || first == '-' || first == '+')) {
    return false;
  }
  const std::string copy(line.substr(0, 64));
  char* end = nullptr;
  (void)std::strtod(copy.c_str(), &end);
  return end != copy.c_str();
}

bool IsTmapWordEnd(std::string_view text, size_t at) {
  return at == text.size() || text[at] == '\t' || text[at] == '\r' || text[at] == '\n';
}

std::string_view NextNonBlankLine(std::string_view& text) {
  std::string_view line;
  while (NextLine(text, line)) {
    if (!Trimmed(line).empty()) return line;
  }
  return {};
}

std::string Quoted(std::string_view field) {
  return std::string(field.substr(0, kQuotedLimit));
}

// Splits at commas, or at runs of tabs and blanks.
std::vector<std::string_view> SplitFields(std::string_view line, bool commas) {
  std::vector<std::string_view> fields;
  if (commas) {
    size_t start = 0;
    for (size_t at = line.find(','); at != std::string_view::npos; at = line.find(',', start)) {
      fields.push_back(Trimmed(line.substr(start, at - start)));
      start = at + 1;
    }
    fields.push_back(Trimmed(line.substr(start)));
    return fields;
  }
  size_t k = 0;
  while (k < line.size()) {
    while (k < line.size() && IsBlank(line[k])) ++k;
    const size_t start = k;
    while (k < line.size() && !IsBlank(line[k])) ++k;
    if (k > start) fields.push_back(line.substr(start, k - start));
  }
  return fields;
}

// The columns of a comma-separated list, from its header line.
struct CsvColumns {
  int time;      // -1: the first numeric column of each row
  int beat;      // -1: none
  int division;  // -1: none
};

CsvColumns ReadCsvHeader(std::string_view header) {
  CsvColumns columns{-1, -1, -1};
  const std::vector<std::string_view> names = SplitFields(header, true);
  for (size_t k = 0; k < names.size(); ++k) {
    const int column = static_cast<int>(k);
    if (names[k] == "seconds") columns.time = column;
    if (names[k] == "beat") columns.beat = column;
    if (names[k] == "division") columns.division = column;
  }
  return columns;
}

// What one line holds: a beat, nothing to read (a division, a blank line),
// or a problem.
enum class LineRead : uint8_t { kBeat, kPassedOver, kProblem };

struct LineContext {
  bool csv;
  CsvColumns columns;
  int32_t line;
};

LineRead Problem(BeatLineProblemKind kind, const LineContext& context, std::string_view field,
                 BeatLineProblem& problem) {
  problem = BeatLineProblem{kind, context.line, Quoted(field), 0.0, 0.0};
  return LineRead::kProblem;
}

int FirstNumericColumn(const std::vector<std::string_view>& fields) {
  for (size_t k = 0; k < fields.size(); ++k) {
    double value = 0.0;
    if (ReadWholeNumber(fields[k], value)) return static_cast<int>(k);
  }
  return 0;
}

LineRead ReadCsvRow(const std::vector<std::string_view>& fields, const LineContext& context,
                    ListedBeat& beat, BeatLineProblem& problem) {
  const CsvColumns& columns = context.columns;
  const int time = columns.time >= 0 ? columns.time : FirstNumericColumn(fields);
  const auto field = [&fields](int column) {
    return column >= 0 && static_cast<size_t>(column) < fields.size() ? fields[column]
                                                                      : std::string_view{};
  };
  int64_t division = 1;
  if (ReadWholeCount(field(columns.division), division) && division != 1) {
    return LineRead::kPassedOver;
  }
  if (!ReadWholeNumber(field(time), beat.seconds)) {
    return Problem(BeatLineProblemKind::kNotATime, context, field(time), problem);
  }
  int64_t number = 0;
  if (columns.beat >= 0 && !field(columns.beat).empty()) {
    if (!ReadWholeCount(field(columns.beat), number) || number < 1) {
      return Problem(BeatLineProblemKind::kBadBeatNumber, context, field(columns.beat), problem);
    }
  }
  beat.beatInMeasure = static_cast<int32_t>(number);
  return LineRead::kBeat;
}

// A label "M.B" gives the beat's number B; "M.B.D", a later division, is no
// beat; any other label says nothing of the beat.
LineRead ReadLabel(std::string_view label, ListedBeat& beat) {
  const size_t dot = label.find('.');
  if (dot == std::string_view::npos) return LineRead::kBeat;
  int64_t measure = 0;
  if (!ReadWholeCount(label.substr(0, dot), measure)) return LineRead::kBeat;
  const std::string_view rest = label.substr(dot + 1);
  const size_t second = rest.find('.');
  int64_t number = 0;
  if (second != std::string_view::npos) {
    int64_t division = 0;
    const bool isDivision = ReadWholeCount(rest.substr(0, second), number) &&
                            ReadWholeCount(rest.substr(second + 1), division);
    return isDivision ? LineRead::kPassedOver : LineRead::kBeat;
  }
  if (ReadWholeCount(rest, number) && number >= 1)
    beat.beatInMeasure = static_cast<int32_t>(number);
  return LineRead::kBeat;
}

// A label track's line: start, end and the label, which may hold blanks.
std::string_view LabelOf(std::string_view line) {
  const std::vector<std::string_view> fields = SplitFields(line, false);
  const size_t end = static_cast<size_t>(fields[1].data() + fields[1].size() - line.data());
  return Trimmed(line.substr(end));
}

LineRead ReadPlainLine(std::string_view line, const std::vector<std::string_view>& fields,
                       const LineContext& context, ListedBeat& beat, BeatLineProblem& problem) {
  if (!ReadWholeNumber(fields[0], beat.seconds)) {
    return Problem(BeatLineProblemKind::kNotATime, context, fields[0], problem);
  }
  beat.beatInMeasure = 0;
  if (fields.size() < 2) return LineRead::kBeat;
  int64_t number = 0;
  if (fields.size() == 2 && ReadWholeCount(fields[1], number)) {
    if (number < 1)
      return Problem(BeatLineProblemKind::kBadBeatNumber, context, fields[1], problem);
    beat.beatInMeasure = static_cast<int32_t>(number);
    return LineRead::kBeat;
  }
  double end = 0.0;
  if (ReadWholeNumber(fields[1], end) && fields.size() > 2) return ReadLabel(LabelOf(line), beat);
  if (fields.size() == 2 && ReadWholeNumber(fields[1], end)) return LineRead::kBeat;
  return Problem(BeatLineProblemKind::kBadBeatNumber, context, fields[1], problem);
}

LineRead ReadLine(std::string_view line, const LineContext& context, ListedBeat& beat,
                  BeatLineProblem& problem) {
  const std::vector<std::string_view> fields = SplitFields(line, context.csv);
  if (fields.empty() || (fields.size() == 1 && fields[0].empty())) return LineRead::kPassedOver;
  beat.line = context.line;
  if (context.csv) return ReadCsvRow(fields, context, beat, problem);
  return ReadPlainLine(line, fields, context, beat, problem);
}

void KeepBeat(const ListedBeat& beat, BeatListReadout& readout) {
  if (!readout.beats.empty() && !(beat.seconds > readout.beats.back().seconds)) {
    readout.problems.push_back(BeatLineProblem{BeatLineProblemKind::kNotAfterPrevious, beat.line,
                                               std::string(), beat.seconds,
                                               readout.beats.back().seconds});
    return;
  }
  readout.beats.push_back(beat);
}

int32_t LineNumber(int64_t line) {
  return line > INT32_MAX ? INT32_MAX : static_cast<int32_t>(line);
}

}  // namespace

// At a line's start or after a tab, ended by a tab or the line's end.
bool HoldsTmapWord(std::string_view text) {
  constexpr std::string_view kWord = "tmap";
  for (size_t at = text.find(kWord); at != std::string_view::npos; at = text.find(kWord, at + 1)) {
    const bool starts = at == 0 || text[at - 1] == '\t' || text[at - 1] == '\n';
    if (starts && IsTmapWordEnd(text, at + kWord.size())) return true;
  }
  return false;
}

bool ReadWholeText(FILE* file, std::string& text) {
  text.clear();
  char piece[65536];
  size_t taken = 0;
  while ((taken = std::fread(piece, 1, sizeof piece, file)) > 0) text.append(piece, taken);
  return std::ferror(file) == 0;
}

bool IsBeatListText(std::string_view text) {
  text = ReadableText(text);
  if (HoldsTmapWord(text)) return false;
  const std::string_view first = NextNonBlankLine(text);
  if (BeginsWithNumber(first)) return true;
  return first.find(',') != std::string_view::npos && BeginsWithNumber(NextNonBlankLine(text));
}

void ReadBeatListText(std::string_view text, BeatListReadout& readout) {
  text = ReadableText(text);
  readout.beats.clear();
  readout.problems.clear();
  LineContext context{false, CsvColumns{-1, -1, -1}, 0};
  std::string_view line;
  int64_t lineNumber = 0;
  bool seenText = false;
  while (NextLine(text, line)) {
    ++lineNumber;
    if (Trimmed(line).empty()) continue;
    if (!seenText && !BeginsWithNumber(line) && line.find(',') != std::string_view::npos) {
      context.csv = true;
      context.columns = ReadCsvHeader(line);
      seenText = true;
      continue;
    }
    seenText = true;
    context.line = LineNumber(lineNumber);
    ListedBeat beat{0.0, 0, context.line};
    BeatLineProblem problem{};
    const LineRead read = ReadLine(line, context, beat, problem);
    if (read == LineRead::kProblem) readout.problems.push_back(problem);
    if (read == LineRead::kBeat) KeepBeat(beat, readout);
  }
}
