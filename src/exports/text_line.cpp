#include "exports/text_line.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

void AddText(TextLine& line, const char* text, size_t length) {
  std::memcpy(line.text + line.length, text, length);
  line.length += length;
}

void AddCharacter(TextLine& line, char character) {
  line.text[line.length++] = character;
}

void AddInteger(TextLine& line, int64_t value) {
  const std::to_chars_result end =
      std::to_chars(line.text + line.length, line.text + kTextLineCapacity, value);
  line.length = static_cast<size_t>(end.ptr - line.text);
}

void AddFixed(TextLine& line, double value, int decimals) {
  char* at = line.text + line.length;
  const size_t room = kTextLineCapacity - line.length;
  if (!std::isfinite(value)) {
    // printf's own spelling of infinities and not-a-number.
    const int written = std::snprintf(at, room, "%.*f", decimals, value);
    line.length += written > 0 ? static_cast<size_t>(written) : 0;
    return;
  }
  const std::to_chars_result end =
      std::to_chars(at, line.text + kTextLineCapacity, value, std::chars_format::fixed, decimals);
  line.length = static_cast<size_t>(end.ptr - line.text);
}

void AddShortest(TextLine& line, double value) {
  const std::to_chars_result end =
      std::to_chars(line.text + line.length, line.text + kTextLineCapacity, value);
  line.length = static_cast<size_t>(end.ptr - line.text);
}

bool PutLine(ExportSink& sink, TextLine& line) {
  PutBytes(sink, line.text, line.length);
  line.length = 0;
  return !sink.failed;
}
