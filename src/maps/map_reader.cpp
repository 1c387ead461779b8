#include "maps/map_reader.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "base/int32_math.h"

namespace {

constexpr size_t kChunkSize = 65536;
// Characters of one piece kept for parsing; a number longer than this is read
// from its first kPieceLimit characters.
constexpr int kPieceLimit = 65535;
// Characters of a number field kept to quote it in a problem.
constexpr int kQuoteLimit = 40;

constexpr const char* kTokenDelimiters = "\t\n";
constexpr const char* kFieldDelimiters = "\t";
constexpr const char* kValueDelimiters = "\n";

constexpr const char* kCommandWords[] = {"tmap", "rate", "div", "start", "stop", "offset"};

// A piece of the text: characters between delimiters.
struct Piece {
  char text[kPieceLimit + 1];
  int length;
  bool cut;    // longer than kPieceLimit
  bool taken;  // false when the text ended before it began
  // The line of its first character (for a number, of its first non-blank
  // one), or of its end when it has none.
  int64_t line;
  // A number as written from its first non-blank character up to its end or
  // its line's end, whichever comes first.
  char quote[kQuoteLimit];
  int quoteLength;
  bool quoteCut;
  bool quoteClosed;  // the line ended inside the piece
};

// One cursor through the whole map text, read a chunk at a time, so a file
// of any size is read in fixed memory.
struct MapCursor {
  FILE* file;
  char chunk[kChunkSize];
  size_t position;
  size_t size;
  bool textEnded;                     // the file's end or its first zero byte was reached
  bool failed;                        // the file could not be read
  bool zeroByte;                      // the text ended at a zero byte
  int64_t line;                       // of the character at the cursor, from 1
  int previous;                       // the character last moved past
  const MapDiagnostics* diagnostics;  // or null
  // Problems told once for the whole text.
  bool loneReturnTold;
  bool measuresWrapTold;
  bool beatsWrapTold;
  Piece piece;
};

// The command line being read, for naming a field it lacks.
struct CommandAt {
  int64_t line;
  bool lackTold;  // a field was already found missing from the line
};

// What a number field gave.
struct NumberRead {
  bool taken;       // the text had not ended before it
  const char* end;  // where the conversion stopped
  bool clamped;     // beyond the 32-bit range
  double value;
};

void Tell(const MapCursor& cursor, const MapProblem& problem) {
  cursor.diagnostics->report(cursor.diagnostics->context, problem);
}

MapProblem ProblemAt(MapProblemKind kind, MapField field, int64_t line, double value) {
  return MapProblem{kind, field, line, 0, nullptr, 0, false, value};
}

MapProblem QuotedProblem(MapProblemKind kind, MapField field, const Piece& piece, double value) {
  return MapProblem{kind,           field, piece.line, 0, piece.quote, piece.quoteLength,
                    piece.quoteCut, value};
}

void Refill(MapCursor& cursor) {
  cursor.position = 0;
  cursor.size = 0;
  if (cursor.textEnded) return;
  cursor.size = std::fread(cursor.chunk, 1, kChunkSize, cursor.file);
  if (std::ferror(cursor.file)) cursor.failed = true;
  const void* zero = std::memchr(cursor.chunk, '\0', cursor.size);
  if (zero != nullptr) cursor.size = static_cast<const char*>(zero) - cursor.chunk;
  cursor.zeroByte = zero != nullptr;
  if (zero != nullptr || cursor.size == 0 || cursor.failed) cursor.textEnded = true;
}

// The character at the cursor, or -1 at the end of the text.
int Peek(MapCursor& cursor) {
  if (cursor.position == cursor.size) Refill(cursor);
  if (cursor.position == cursor.size) return -1;
  return static_cast<unsigned char>(cursor.chunk[cursor.position]);
}

// Moves past `character`, the one at the cursor, counting lines.
void MoveOn(MapCursor& cursor, int character) {
  ++cursor.position;
  if (character == '\n') {
    ++cursor.line;
  } else if (cursor.previous == '\r' && cursor.diagnostics != nullptr && !cursor.loneReturnTold) {
    cursor.loneReturnTold = true;
    Tell(cursor, ProblemAt(MapProblemKind::kLoneCarriageReturn, MapField::kTempo, cursor.line, 0));
  }
  cursor.previous = character;
}

// A byte order mark is no part of the text: editors save one, unseen.
void PassByteOrderMark(MapCursor& cursor) {
  if (Peek(cursor) < 0 || cursor.size < 3) return;
  if (std::memcmp(cursor.chunk, "\xEF\xBB\xBF", 3) == 0) cursor.position = 3;
}

bool IsDelimiter(int character, const char* delimiters) {
  return character > 0 && std::strchr(delimiters, character) != nullptr;
}

void StoreTokenCharacter(Piece& piece, int character) {
  if (piece.length == kPieceLimit) {
    piece.cut = true;
    return;
  }
  piece.text[piece.length++] = static_cast<char>(character);
}

void QuoteCharacter(Piece& piece, int character) {
  if (piece.quoteClosed) return;
  if (character == '\r' || character == '\n') {
    piece.quoteClosed = true;
  } else if (piece.quoteLength == kQuoteLimit) {
    piece.quoteCut = true;
  } else {
    piece.quote[piece.quoteLength++] = static_cast<char>(character);
  }
}

// strtol and strtod skip leading white space and give a run of leading zeros
// no weight beyond a single "0", so both are dropped here: a number then fits
// the piece however it is padded.
void StoreNumberCharacter(Piece& piece, int character, int64_t line) {
  if (piece.length == 0) {
    if (std::isspace(character)) return;
    piece.line = line;
  }
  QuoteCharacter(piece, character);
  const int signLength = piece.text[0] == '+' || piece.text[0] == '-' ? 1 : 0;
  const bool twoZerosSoFar = piece.length == signLength + 2 && piece.text[signLength] == '0' &&
                             piece.text[signLength + 1] == '0';
  if (character == '0' && twoZerosSoFar) return;
  StoreTokenCharacter(piece, character);
}

void ClearPiece(Piece& piece, int64_t line) {
  piece.length = 0;
  piece.cut = false;
  piece.text[0] = '\0';
  piece.line = line;
  piece.quoteLength = 0;
  piece.quoteCut = false;
  piece.quoteClosed = false;
}

// Skips delimiters, then takes the characters up to the next delimiter and
// moves past it. False when only delimiters were left (for a number, only
// delimiters and blanks).
bool TakePiece(MapCursor& cursor, const char* delimiters, bool number) {
  Piece& piece = cursor.piece;
  int character = Peek(cursor);
  while (IsDelimiter(character, delimiters)) {
    MoveOn(cursor, character);
    character = Peek(cursor);
  }
  ClearPiece(piece, cursor.line);
  piece.taken = character >= 0;
  if (!piece.taken) return false;
  while (character >= 0 && !IsDelimiter(character, delimiters)) {
    if (number) {
      StoreNumberCharacter(piece, character, cursor.line);
    } else {
      StoreTokenCharacter(piece, character);
    }
    piece.text[piece.length] = '\0';
    MoveOn(cursor, character);
    character = Peek(cursor);
  }
  if (number && piece.length == 0) {
    piece.line = cursor.line;
    // Blanks alone up to the end of the text are as good as no piece.
    piece.taken = character >= 0;
  }
  if (character >= 0) MoveOn(cursor, character);
  return piece.taken;
}

// Text after the number, on the number's own line, other than blanks.
bool HasTextAfterNumber(const Piece& piece, const char* end) {
  for (const char* at = end; at < piece.text + piece.length; ++at) {
    if (*at == '\r' || *at == '\n') return false;
    if (!std::isspace(static_cast<unsigned char>(*at))) return true;
  }
  return piece.cut;
}

MapProblemKind FieldProblem(const Piece& piece, const NumberRead& read, bool& found) {
  found = true;
  if (piece.length == 0) return MapProblemKind::kEmptyField;
  if (read.end == piece.text) return MapProblemKind::kNotANumber;
  if (read.clamped) return MapProblemKind::kPast32Bits;
  found = HasTextAfterNumber(piece, read.end);
  return MapProblemKind::kTextAfterNumber;
}

// A field missing from its command's line is told once, at that line, with
// the value taken from further on; its own faults are then not told again.
void CheckField(const MapCursor& cursor, MapField field, CommandAt& command,
                const NumberRead& read) {
  const Piece& piece = cursor.piece;
  if (!command.lackTold && (!read.taken || piece.line > command.line)) {
    command.lackTold = true;
    MapProblem problem =
        ProblemAt(read.taken ? MapProblemKind::kFieldOnLaterLine : MapProblemKind::kFieldAfterEnd,
                  field, command.line, read.value);
    problem.sourceLine = piece.line;
    Tell(cursor, problem);
    return;
  }
  if (!read.taken) return;
  bool found = false;
  const MapProblemKind kind = FieldProblem(piece, read, found);
  if (found) Tell(cursor, QuotedProblem(kind, field, piece, read.value));
}

// A missing piece reads as 0, as one without digits does.
int32_t TakeInteger(MapCursor& cursor, const char* delimiters, MapField field, CommandAt& command) {
  const bool taken = TakePiece(cursor, delimiters, true);
  char* end = nullptr;
  const long wide = std::strtol(cursor.piece.text, &end, 10);
  const int32_t value = ClampToInt32(wide);
  if (cursor.diagnostics != nullptr) {
    CheckField(cursor, field, command,
               NumberRead{taken, end, value != wide, static_cast<double>(value)});
  }
  return value;
}

float TakeTempo(MapCursor& cursor, CommandAt& command) {
  const bool taken = TakePiece(cursor, kFieldDelimiters, true);
  char* end = nullptr;
  const auto tempo = static_cast<float>(std::strtod(cursor.piece.text, &end));
  if (cursor.diagnostics != nullptr) {
    CheckField(cursor, MapField::kTempo, command, NumberRead{taken, end, false, tempo});
  }
  return tempo;
}

bool TokenIs(const Piece& token, const char* word) {
  return !token.cut && std::strcmp(token.text, word) == 0;
}

bool IsCommandWord(const char* word, size_t length) {
  return std::ranges::any_of(kCommandWords, [word, length](const char* command) {
    return std::strlen(command) == length && strncasecmp(word, command, length) == 0;
  });
}

bool StartsANumber(char character) {
  return std::isdigit(static_cast<unsigned char>(character)) || character == '+' ||
         character == '-' || character == '.';
}

// A word that is no command word but one in other case, with blanks around
// it, or with its values after blanks instead of tabs ("tmap 120 4 8"); a
// note that starts with a command word ("Stop here") is none.
bool ResemblesCommand(const Piece& token) {
  if (token.cut) return false;
  const char* word = token.text;
  while (std::isspace(static_cast<unsigned char>(*word))) ++word;
  const char* wordEnd = word;
  while (*wordEnd != '\0' && !std::isspace(static_cast<unsigned char>(*wordEnd))) ++wordEnd;
  if (!IsCommandWord(word, static_cast<size_t>(wordEnd - word))) return false;
  const char* rest = wordEnd;
  while (std::isspace(static_cast<unsigned char>(*rest))) ++rest;
  return *rest == '\0' || StartsANumber(*rest);
}

void TellLookalike(const MapCursor& cursor) {
  const Piece& token = cursor.piece;
  if (!ResemblesCommand(token)) return;
  const int shown = token.length < kQuoteLimit ? token.length : kQuoteLimit;
  Tell(cursor, MapProblem{MapProblemKind::kLookalikeWord, MapField::kTempo, token.line, 0,
                          token.text, shown, token.length > shown, 0});
}

// A total that passes 32 bits wraps; the first time is told, at its line.
void CheckTotal(const MapCursor& cursor, MapField field, int64_t exact, int32_t wrapped,
                int64_t line, bool& told) {
  if (exact == wrapped || told || cursor.diagnostics == nullptr) return;
  told = true;
  Tell(cursor, ProblemAt(MapProblemKind::kTotalWraps, field, line, wrapped));
}

// The line a value is read from: for one missing at the end of the text,
// its command's.
int64_t ValueLine(const MapCursor& cursor, const CommandAt& command) {
  return cursor.piece.taken ? cursor.piece.line : command.line;
}

struct SectionLines {
  int64_t tempo;
  int64_t beats;
  int64_t measures;
};

// Values the grid refuses, or a section that adds no measures.
void CheckSectionValues(const MapCursor& cursor, float tempo, int32_t beats, int32_t measures,
                        const SectionLines& lines) {
  if (!(tempo > 0.0f)) {
    Tell(cursor, ProblemAt(MapProblemKind::kNotAboveZero, MapField::kTempo, lines.tempo, tempo));
  }
  if (beats <= 0 && measures > 0) {
    Tell(cursor, ProblemAt(MapProblemKind::kNotAboveZero, MapField::kBeats, lines.beats, beats));
  }
  if (measures <= 0) {
    Tell(cursor,
         ProblemAt(MapProblemKind::kNotAboveZero, MapField::kMeasures, lines.measures, measures));
  }
}

// Section lines past the last readable slot are taken apart as usual, so the
// cursor moves the same, but are otherwise ignored.
void ReadSection(MapCursor& cursor, MapReadout& readout, CommandAt& command) {
  SectionLines lines{};
  const float tempo = TakeTempo(cursor, command);
  lines.tempo = ValueLine(cursor, command);
  const int32_t beats = TakeInteger(cursor, kFieldDelimiters, MapField::kBeats, command);
  lines.beats = ValueLine(cursor, command);
  const int32_t measures = TakeInteger(cursor, kValueDelimiters, MapField::kMeasures, command);
  lines.measures = ValueLine(cursor, command);
  TempoMap& map = readout.map;
  const int32_t n = map.sectionCount;
  if (n >= kMaxReadSections) {
    if (!readout.capped && cursor.diagnostics != nullptr) {
      Tell(cursor, ProblemAt(MapProblemKind::kSectionsCapped, MapField::kTempo, command.line,
                             kMaxReadSections));
    }
    readout.capped = true;
    return;
  }
  if (cursor.diagnostics != nullptr) CheckSectionValues(cursor, tempo, beats, measures, lines);
  map.tempo[n] = tempo;
  map.beatsPerMeasure[n] = beats;
  map.measures[n] = measures;
  const int64_t exactBeats = int64_t{map.totalBeats} + int64_t{beats} * measures;
  const int64_t exactMeasures = int64_t{map.totalMeasures} + measures;
  map.totalBeats = WrappingAdd(map.totalBeats, WrappingMultiply(beats, measures));
  map.totalMeasures = WrappingAdd(map.totalMeasures, measures);
  map.sectionCount = n + 1;
  CheckTotal(cursor, MapField::kMeasures, exactMeasures, map.totalMeasures, command.line,
             cursor.measuresWrapTold);
  CheckTotal(cursor, MapField::kBeats, exactBeats, map.totalBeats, command.line,
             cursor.beatsWrapTold);
}

void CheckRate(const MapCursor& cursor, const CommandAt& command, uint32_t rate) {
  if (cursor.diagnostics == nullptr || (rate != 0 && rate <= INT32_MAX)) return;
  MapProblem problem = QuotedProblem(MapProblemKind::kRateOutOfRange, MapField::kRate, cursor.piece,
                                     static_cast<double>(rate));
  problem.line = ValueLine(cursor, command);
  Tell(cursor, problem);
}

void CheckDivisions(const MapCursor& cursor, const CommandAt& command, int32_t divisions) {
  if (cursor.diagnostics == nullptr || divisions > 0) return;
  Tell(cursor, ProblemAt(MapProblemKind::kNotAboveZero, MapField::kDivisions,
                         ValueLine(cursor, command), divisions));
}

// TIME up to the line's end, as --offset takes it; the blanks after it are
// no part of it. One that is none leaves the offset as it was.
void ReadOffset(MapCursor& cursor, MapReadout& readout, const CommandAt& command) {
  TakePiece(cursor, kValueDelimiters, true);
  Piece& piece = cursor.piece;
  int length = piece.length;
  while (length > 0 && std::isspace(static_cast<unsigned char>(piece.text[length - 1]))) --length;
  piece.text[length] = '\0';
  if (!piece.cut && ReadOffsetText(piece.text, readout.offset)) return;
  if (cursor.diagnostics == nullptr) return;
  MapProblem problem = QuotedProblem(MapProblemKind::kNotATime, MapField::kOffset, piece, 0);
  problem.line = ValueLine(cursor, command);
  Tell(cursor, problem);
}

void ReadCommand(MapCursor& cursor, MapReadout& readout) {
  const Piece& token = cursor.piece;
  CommandAt command{token.line, false};
  GridSettings& settings = readout.settings;
  SettingsLines& lines = readout.lines;
  if (TokenIs(token, "tmap")) {
    ReadSection(cursor, readout, command);
  } else if (TokenIs(token, "rate")) {
    lines.rate = true;
    settings.sampleRate =
        static_cast<uint32_t>(TakeInteger(cursor, kValueDelimiters, MapField::kRate, command));
    CheckRate(cursor, command, settings.sampleRate);
  } else if (TokenIs(token, "div")) {
    lines.divisions = true;
    settings.divisionsPerBeat =
        TakeInteger(cursor, kValueDelimiters, MapField::kDivisions, command);
    CheckDivisions(cursor, command, settings.divisionsPerBeat);
  } else if (TokenIs(token, "start")) {
    lines.start = true;
    settings.startMeasure =
        WrappingSubtract(TakeInteger(cursor, kValueDelimiters, MapField::kStart, command), 1);
  } else if (TokenIs(token, "stop")) {
    lines.stop = true;
    settings.stopMeasure =
        WrappingSubtract(TakeInteger(cursor, kValueDelimiters, MapField::kStop, command), 1);
  } else if (TokenIs(token, "offset")) {
    ReadOffset(cursor, readout, command);
  } else if (cursor.diagnostics != nullptr) {
    TellLookalike(cursor);
  }
}

// A first line that is text alone, no command and no field, names the song.
void KeepTitle(const MapCursor& cursor, MapReadout& readout) {
  const Piece& piece = cursor.piece;
  if (piece.line != 1 || cursor.previous == '\t') return;
  const char* text = piece.text;
  size_t length = static_cast<size_t>(piece.length);
  while (length > 0 && std::isspace(static_cast<unsigned char>(text[length - 1]))) --length;
  while (length > 0 && std::isspace(static_cast<unsigned char>(text[0]))) {
    ++text;
    --length;
  }
  const size_t word = std::strcspn(text, " \r");
  if (length == 0 || IsCommandWord(text, std::min(word, length))) return;
  length = std::min(length, static_cast<size_t>(kTitleLimit));
  std::memcpy(readout.title, text, length);
  readout.title[length] = '\0';
}

// What only the whole text shows.
void CheckWholeText(const MapCursor& cursor, const MapReadout& readout) {
  if (cursor.zeroByte) {
    Tell(cursor, ProblemAt(MapProblemKind::kZeroByte, MapField::kTempo, cursor.line, 0));
  }
  if (readout.map.sectionCount == 0) {
    Tell(cursor, ProblemAt(MapProblemKind::kNoSections, MapField::kTempo, 1, readout.map.tempo[0]));
  }
}

}  // namespace

bool ParseMapText(FILE* file, MapReadout& readout, const MapDiagnostics* diagnostics) {
  static_assert(sizeof(MapCursor) < size_t{256} * 1024, "the cursor lives on the stack");
  MapCursor cursor;
  cursor.file = file;
  cursor.position = 0;
  cursor.size = 0;
  cursor.textEnded = false;
  cursor.failed = false;
  cursor.zeroByte = false;
  cursor.line = 1;
  cursor.previous = -1;
  cursor.diagnostics = diagnostics;
  cursor.loneReturnTold = false;
  cursor.measuresWrapTold = false;
  cursor.beatsWrapTold = false;
  readout.map.sectionCount = 0;
  readout.map.totalMeasures = 0;
  readout.map.totalBeats = 0;
  readout.capped = false;
  readout.offset = OffsetOption{false, false, 0.0, 0};
  readout.lines = SettingsLines{false, false, false, false, readout.settings};
  readout.title[0] = '\0';
  PassByteOrderMark(cursor);
  if (TakePiece(cursor, kTokenDelimiters, false)) {
    KeepTitle(cursor, readout);
    ReadCommand(cursor, readout);
  }
  while (TakePiece(cursor, kTokenDelimiters, false)) ReadCommand(cursor, readout);
  readout.lines.values = readout.settings;
  if (diagnostics != nullptr && !cursor.failed) CheckWholeText(cursor, readout);
  return !cursor.failed;
}
