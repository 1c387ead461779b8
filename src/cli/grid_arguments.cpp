#include "cli/grid_arguments.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "base/int32_math.h"

namespace {

constexpr const char* kNames[kGridArgumentCount] = {"RATE", "START", "STOP", "DIVISIONS"};
// Lines quote at most this much of what was typed.
constexpr int kQuotedLimit = 64;
// MAP and OUT come before the numbers.
constexpr int kFirstNumber = 2;
constexpr int kAllArguments = 6;

// An optional sign and digits, nothing else: what strtol reads whole.
bool IsWholeNumberText(const char* text) {
  const char* digits = text + (text[0] == '+' || text[0] == '-' ? 1 : 0);
  if (digits[0] == '\0') return false;
  for (const char* c = digits; *c != '\0'; ++c) {
    if (std::isdigit(static_cast<unsigned char>(*c)) == 0) return false;
  }
  return true;
}

// The strtol reading; `exact` when it took the whole text and fits 32 bits.
int32_t ReadNumber(const char* text, bool& exact) {
  errno = 0;
  const long wide = std::strtol(text, nullptr, 10);
  const int32_t value = ClampToInt32(wide);
  exact = IsWholeNumberText(text) && errno == 0 && value == wide;
  return value;
}

// START and STOP as the grid counts them, from 0: counted from
// `firstMeasure` they must stay inside 32 bits. Counted from 1 they wrap, as
// they always have.
int32_t MeasureIndex(int32_t typed, int32_t firstMeasure) {
  return firstMeasure == 1 ? WrappingSubtract(typed, 1)
                           : ClampToInt32(int64_t{typed} - firstMeasure);
}

bool IsMeasure(int k) {
  return k == 1 || k == 2;
}

bool RefuseNumber(const char* name, const char* text, Failure& failure) {
  if (IsWholeNumberText(text)) {
    SetFailure(failure, "Error: %s \"%.*s\" is past the 32-bit range!\n", name, kQuotedLimit, text);
  } else {
    SetFailure(failure, "Error: %s \"%.*s\" is not a whole number!\n", name, kQuotedLimit, text);
  }
  return false;
}

}  // namespace

bool ReadWholeNumber(const char* text, int32_t& value) {
  bool exact = false;
  value = ReadNumber(text, exact);
  return exact;
}

bool ReadGridArguments(const Arguments& arguments, NumberReading reading, int32_t firstMeasure,
                       FILE* notes, GridArguments& numbers, Failure& failure) {
  numbers.count = 0;
  for (int k = 0; k < kGridArgumentCount; ++k) {
    const int at = kFirstNumber + k;
    const bool divisions = k == kGridArgumentCount - 1;
    if (at >= arguments.count || (divisions && arguments.count != kAllArguments)) break;
    const char* text = arguments.values[at];
    bool exact = false;
    numbers.values[k] = ReadNumber(text, exact);
    numbers.count = k + 1;
    if (exact && IsMeasure(k) && firstMeasure != 1 &&
        int64_t{numbers.values[k]} - firstMeasure !=
            MeasureIndex(numbers.values[k], firstMeasure)) {
      SetFailure(failure, "Error: %s %s counted from --first-measure=%i passes 32 bits!\n",
                 kNames[k], text, firstMeasure);
      return false;
    }
    if (exact) continue;
    if (reading == NumberReading::kWholeOnly) return RefuseNumber(kNames[k], text, failure);
    std::fprintf(notes, "%s \"%.*s\" is read as %i\n", kNames[k], kQuotedLimit, text,
                 numbers.values[k]);
  }
  return true;
}

void ApplyGridArguments(const GridArguments& numbers, int32_t firstMeasure,
                        GridSettings& settings) {
  settings.firstMeasureNumber = firstMeasure;
  if (numbers.count >= 1) settings.sampleRate = static_cast<uint32_t>(numbers.values[0]);
  if (numbers.count >= 2) settings.startMeasure = MeasureIndex(numbers.values[1], firstMeasure);
  if (numbers.count >= 3) settings.stopMeasure = MeasureIndex(numbers.values[2], firstMeasure);
  if (numbers.count >= 4) settings.divisionsPerBeat = numbers.values[3];
}
