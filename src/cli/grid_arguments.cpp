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

bool RefuseNumber(const char* name, const char* text, Failure& failure) {
  if (IsWholeNumberText(text)) {
    SetFailure(failure, "Error: %s \"%.*s\" is past the 32-bit range!\n", name, kQuotedLimit, text);
  } else {
    SetFailure(failure, "Error: %s \"%.*s\" is not a whole number!\n", name, kQuotedLimit, text);
  }
  return false;
}

}  // namespace

bool ReadGridArguments(const Arguments& arguments, NumberReading reading, FILE* notes,
                       GridArguments& numbers, Failure& failure) {
  numbers.count = 0;
  for (int k = 0; k < kGridArgumentCount; ++k) {
    const int at = kFirstNumber + k;
    const bool divisions = k == kGridArgumentCount - 1;
    if (at >= arguments.count || (divisions && arguments.count != kAllArguments)) break;
    const char* text = arguments.values[at];
    bool exact = false;
    numbers.values[k] = ReadNumber(text, exact);
    numbers.count = k + 1;
    if (exact) continue;
    if (reading == NumberReading::kWholeOnly) return RefuseNumber(kNames[k], text, failure);
    std::fprintf(notes, "%s \"%.*s\" is read as %i\n", kNames[k], kQuotedLimit, text,
                 numbers.values[k]);
  }
  return true;
}

void ApplyGridArguments(const GridArguments& numbers, GridSettings& settings) {
  if (numbers.count >= 1) settings.sampleRate = static_cast<uint32_t>(numbers.values[0]);
  if (numbers.count >= 2) settings.startMeasure = WrappingSubtract(numbers.values[1], 1);
  if (numbers.count >= 3) settings.stopMeasure = WrappingSubtract(numbers.values[2], 1);
  if (numbers.count >= 4) settings.divisionsPerBeat = numbers.values[3];
}
