// The tempo map reader: a parser of map texts that neither prompts nor prints.
#ifndef BEATSTAMPS_MAP_READER_H_
#define BEATSTAMPS_MAP_READER_H_

#include <cstdint>
#include <cstdio>

#include "base/name_limits.h"
#include "maps/map_offset.h"
#include "maps/tempo_map.h"

// The settings lines a map text holds, and what they set: a map written
// back out holds the same.
struct SettingsLines {
  bool rate;
  bool divisions;
  bool start;
  bool stop;
  GridSettings values;  // as the last line of each kind set them
};

// Everything a map text may set. A read starts from the current values, so
// that what the text does not name stays as it was.
struct MapReadout {
  TempoMap map;
  GridSettings settings;
  bool capped;  // section lines past the last readable section were ignored
  // Where measure 1 begins in a recording: an offset line's TIME; not given
  // without one (each read starts from none).
  OffsetOption offset;
  SettingsLines lines;  // none before the read
  // The map's first line when it is a note (no tab, no command word), as a
  // song's name: "Shoreline - album version". Empty when there is none.
  char title[kTitleLimit + 1];
};

// The values a map line sets, to name them.
enum class MapField : uint8_t {
  kTempo,
  kBeats,
  kMeasures,
  kRate,
  kDivisions,
  kStart,
  kStop,
  kOffset
};

// What the reader meets that a map's writer most likely did not mean. The
// reading does not change for it: each problem says what is read instead.
enum class MapProblemKind : uint8_t {
  kTextAfterNumber,     // the number at the field's start is read, the rest ignored
  kNotANumber,          // no number: read as 0
  kEmptyField,          // blanks alone: read as 0
  kPast32Bits,          // held at the end of the 32-bit range
  kFieldOnLaterLine,    // the line ends before the field, taken from `sourceLine`
  kFieldAfterEnd,       // the text ends before the field: read as 0
  kNotAboveZero,        // a tempo, beats, measures or div of 0 or less
  kRateOutOfRange,      // a rate of 0, or above 2^31-1 as the unsigned rate holds it
  kLookalikeWord,       // a word that resembles a command word: skipped
  kSectionsCapped,      // the first tmap line past the sections a read stores
  kTotalWraps,          // the map's measures or beats pass 32 bits and wrap
  kNoSections,          // no tmap line at all
  kZeroByte,            // a zero byte ends the text
  kLoneCarriageReturn,  // a CR that ends no line
  kNotATime,            // an offset that is no TIME: the line is skipped
};

struct MapProblem {
  MapProblemKind kind;
  MapField field;      // the value concerned, where there is one
  int64_t line;        // counted from 1
  int64_t sourceLine;  // kFieldOnLaterLine: the line the field was read from
  // The field or word as written, up to its line's end: not terminated.
  const char* text;
  int textLength;
  bool textCut;  // the text goes on past textLength
  // What is read: the field's value; for kTotalWraps the wrapped total, for
  // kNoSections the tempo of the section a grid then has.
  double value;
};

// Told of every problem as the reader meets it, in the order of the text.
struct MapDiagnostics {
  void* context;
  void (*report)(void* context, const MapProblem& problem);
};

// Reads the map text of `file` (up to its end or first zero byte) into
// `readout`; a byte order mark at its start is passed over. Each problem
// goes to `diagnostics` when given. False when the file could not be read
// (errno, read at once, says why).
bool ParseMapText(FILE* file, MapReadout& readout, const MapDiagnostics* diagnostics = nullptr);

#endif  // BEATSTAMPS_MAP_READER_H_
