// A line of text built in place from numbers, for the text exports: the
// numbers are written by std::to_chars, which reads no format string.
#ifndef BEATSTAMPS_TEXT_LINE_H_
#define BEATSTAMPS_TEXT_LINE_H_

#include <cstddef>
#include <cstdint>

#include "exports/export_sink.h"

// Long enough for any line of the exports: a time of up to 309 digits
// before the point, twice, and several 64-bit numbers.
constexpr size_t kTextLineCapacity = 1024;

struct TextLine {
  char text[kTextLineCapacity];
  size_t length;
};

void AddText(TextLine& line, const char* text, size_t length);
void AddCharacter(TextLine& line, char character);
void AddInteger(TextLine& line, int64_t value);
// As printf's "%.*f" writes it.
void AddFixed(TextLine& line, double value, int decimals);
// The shortest decimal that reads back as the same double.
void AddShortest(TextLine& line, double value);

// Puts the line into the sink and empties it; false once the sink has failed.
bool PutLine(ExportSink& sink, TextLine& line);

#endif  // BEATSTAMPS_TEXT_LINE_H_
