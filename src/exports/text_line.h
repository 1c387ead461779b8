// A line of text built in place from numbers, for the text exports: the
// numbers are written by std::to_chars, which reads no format string.
#ifndef BEATSTAMPS_TEXT_LINE_H_
#define BEATSTAMPS_TEXT_LINE_H_

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "exports/export_sink.h"

// Long enough for any line of the exports: a time of up to 309 digits
// before the point, twice, and several 64-bit numbers.
constexpr size_t kTextLineCapacity = 1024;

struct TextLine {
  char text[kTextLineCapacity];
  size_t length;
};

// The pieces of a line come at every grid point: they are put together
// here, where each writer's line is built whole. A piece without room is
// cut, never written past the line's end.
inline void AddText(TextLine& line, const char* text, size_t length) {
  length = std::min(length, kTextLineCapacity - line.length);
  std::memcpy(line.text + line.length, text, length);
  line.length += length;
}

inline void AddCharacter(TextLine& line, char character) {
  if (line.length < kTextLineCapacity) line.text[line.length++] = character;
}

inline void AddInteger(TextLine& line, int64_t value) {
  const std::to_chars_result end =
      std::to_chars(line.text + line.length, line.text + kTextLineCapacity, value);
  line.length = static_cast<size_t>(end.ptr - line.text);
}

// As printf's "%.*f" writes it.
void AddFixed(TextLine& line, double value, int decimals);

// The shortest decimal that reads back as the same double.
inline void AddShortest(TextLine& line, double value) {
  const std::to_chars_result end =
      std::to_chars(line.text + line.length, line.text + kTextLineCapacity, value);
  line.length = static_cast<size_t>(end.ptr - line.text);
}

// Puts the line into the sink and empties it; false once the sink has failed.
inline bool PutLine(ExportSink& sink, TextLine& line) {
  // Most lines are a few dozen bytes: they go out in one move of this many.
  constexpr size_t kShortLine = 64;
  PutBytesInBlock<kShortLine>(sink, line.text, line.length);
  line.length = 0;
  return !sink.failed;
}

#endif  // BEATSTAMPS_TEXT_LINE_H_
