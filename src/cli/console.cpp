#include "cli/console.h"

#include <cctype>
#include <cstring>

#include "base/int32_math.h"
#include "cli/run_state.h"

namespace {

void RefuseLongName(Console& console) {
  std::fputs("File name too long!\n", console.out);
}

InputStatus NoValue(const Console& console) {
  return std::feof(console.in) ? InputStatus::kEnded : InputStatus::kNotANumber;
}

}  // namespace

// `capacity` counts characters without the terminator and is at most the
// longest file name.
InputStatus ReadWord(Console& console, char* field, int capacity) {
  std::fflush(console.out);
  char format[16];
  std::snprintf(format, sizeof format, "%%%ds", capacity);
  char word[kFileNameLimit + 1];
  if (capacity > kFileNameLimit || std::fscanf(console.in, format, word) != 1) {
    return InputStatus::kEnded;
  }
  const int next = std::getc(console.in);
  if (next != EOF && !std::isspace(next)) {
    // The rest of the word goes too, so it is not taken for the next one.
    (void)std::fscanf(console.in, "%*[^ \t\n\v\f\r]");
    return InputStatus::kTooLong;
  }
  // The character just read can always be pushed back.
  if (next != EOF) (void)std::ungetc(next, console.in);
  std::memcpy(field, word, std::strlen(word) + 1);
  return InputStatus::kRead;
}

InputStatus ReadInteger(Console& console, int32_t& value) {
  std::fflush(console.out);
  long wide = 0;  // glibc holds out-of-range input at the ends of long
  if (std::fscanf(console.in, "%li", &wide) != 1) return NoValue(console);
  value = ClampToInt32(wide);
  return InputStatus::kRead;
}

InputStatus ReadReal(Console& console, float& value) {
  std::fflush(console.out);
  float real = 0.0f;
  if (std::fscanf(console.in, "%f", &real) != 1) return NoValue(console);
  value = real;
  return InputStatus::kRead;
}

InputStatus AskFileName(Console& console, const char* prompt, char* name) {
  std::fputs(prompt, console.out);
  const InputStatus status = ReadWord(console, name, kFileNameLimit);
  if (status == InputStatus::kTooLong) RefuseLongName(console);
  return status;
}

bool StoreFileName(Console& console, char* name, const char* given) {
  const size_t length = std::strlen(given);
  if (length > kFileNameLimit) {
    RefuseLongName(console);
    return false;
  }
  std::memcpy(name, given, length + 1);
  return true;
}
