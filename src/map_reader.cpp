#include "map_reader.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "int32_math.h"

namespace {

constexpr size_t kChunkSize = 65536;
// Characters of one piece kept for parsing; a number longer than this is read
// from its first kPieceLimit characters.
constexpr int kPieceLimit = 65535;

constexpr const char* kTokenDelimiters = "\t\n";
constexpr const char* kFieldDelimiters = "\t";
constexpr const char* kValueDelimiters = "\n";

// A piece of the text: characters between delimiters.
struct Piece {
  char text[kPieceLimit + 1];
  int length;
  bool cut;  // longer than kPieceLimit
};

// One cursor through the whole map text, read a chunk at a time, so a file
// of any size is read in fixed memory.
struct MapCursor {
  FILE* file;
  char chunk[kChunkSize];
  size_t position;
  size_t size;
  bool textEnded;  // the file's end or its first zero byte was reached
  bool failed;     // the file could not be read
  Piece piece;
};

void Refill(MapCursor& cursor) {
  cursor.position = 0;
  cursor.size = 0;
  if (cursor.textEnded) return;
  cursor.size = std::fread(cursor.chunk, 1, kChunkSize, cursor.file);
  if (std::ferror(cursor.file)) cursor.failed = true;
  const void* zero = std::memchr(cursor.chunk, '\0', cursor.size);
  if (zero != nullptr) cursor.size = static_cast<const char*>(zero) - cursor.chunk;
  if (zero != nullptr || cursor.size == 0 || cursor.failed) cursor.textEnded = true;
}

// The character at the cursor, or -1 at the end of the text.
int Peek(MapCursor& cursor) {
  if (cursor.position == cursor.size) Refill(cursor);
  if (cursor.position == cursor.size) return -1;
  return static_cast<unsigned char>(cursor.chunk[cursor.position]);
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

// strtol and strtod skip leading white space and give a run of leading zeros
// no weight beyond a single "0", so both are dropped here: a number then fits
// the piece however it is padded.
void StoreNumberCharacter(Piece& piece, int character) {
  if (piece.length == 0 && std::isspace(character)) return;
  const int signLength = piece.text[0] == '+' || piece.text[0] == '-' ? 1 : 0;
  const bool twoZerosSoFar = piece.length == signLength + 2 && piece.text[signLength] == '0' &&
                             piece.text[signLength + 1] == '0';
  if (character == '0' && twoZerosSoFar) return;
  StoreTokenCharacter(piece, character);
}

// Skips delimiters, then takes the characters up to the next delimiter and
// moves past it. False when only delimiters were left.
bool TakePiece(MapCursor& cursor, const char* delimiters, bool number) {
  Piece& piece = cursor.piece;
  piece.length = 0;
  piece.cut = false;
  piece.text[0] = '\0';
  int character = Peek(cursor);
  while (IsDelimiter(character, delimiters)) {
    ++cursor.position;
    character = Peek(cursor);
  }
  if (character < 0) return false;
  while (character >= 0 && !IsDelimiter(character, delimiters)) {
    if (number) {
      StoreNumberCharacter(piece, character);
    } else {
      StoreTokenCharacter(piece, character);
    }
    piece.text[piece.length] = '\0';
    ++cursor.position;
    character = Peek(cursor);
  }
  if (character >= 0) ++cursor.position;
  return true;
}

// A missing piece reads as 0, as one without digits does.
int32_t TakeInteger(MapCursor& cursor, const char* delimiters) {
  TakePiece(cursor, delimiters, true);
  return ClampToInt32(std::strtol(cursor.piece.text, nullptr, 10));
}

float TakeTempo(MapCursor& cursor) {
  TakePiece(cursor, kFieldDelimiters, true);
  return static_cast<float>(std::strtod(cursor.piece.text, nullptr));
}

bool TokenIs(const Piece& token, const char* word) {
  return !token.cut && std::strcmp(token.text, word) == 0;
}

// Section lines past the last readable slot are taken apart as usual, so the
// cursor moves the same, but are otherwise ignored.
void ReadSection(MapCursor& cursor, MapReadout& readout) {
  const float tempo = TakeTempo(cursor);
  const int32_t beats = TakeInteger(cursor, kFieldDelimiters);
  const int32_t measures = TakeInteger(cursor, kValueDelimiters);
  TempoMap& map = readout.map;
  const int32_t n = map.sectionCount;
  if (n >= kMaxReadSections) {
    readout.capped = true;
    return;
  }
  map.tempo[n] = tempo;
  map.beatsPerMeasure[n] = beats;
  map.measures[n] = measures;
  map.totalBeats = WrappingAdd(map.totalBeats, WrappingMultiply(beats, measures));
  map.totalMeasures = WrappingAdd(map.totalMeasures, measures);
  map.sectionCount = n + 1;
}

void ReadCommand(MapCursor& cursor, MapReadout& readout) {
  const Piece& token = cursor.piece;
  if (TokenIs(token, "tmap")) {
    ReadSection(cursor, readout);
  } else if (TokenIs(token, "rate")) {
    readout.settings.sampleRate = static_cast<uint32_t>(TakeInteger(cursor, kValueDelimiters));
  } else if (TokenIs(token, "div")) {
    readout.settings.divisionsPerBeat = TakeInteger(cursor, kValueDelimiters);
  } else if (TokenIs(token, "start")) {
    readout.settings.startMeasure = WrappingSubtract(TakeInteger(cursor, kValueDelimiters), 1);
  } else if (TokenIs(token, "stop")) {
    readout.settings.stopMeasure = WrappingSubtract(TakeInteger(cursor, kValueDelimiters), 1);
  }
}

}  // namespace

bool ParseMapText(FILE* file, MapReadout& readout) {
  static_assert(sizeof(MapCursor) < size_t{256} * 1024, "the cursor lives on the stack");
  MapCursor cursor;
  cursor.file = file;
  cursor.position = 0;
  cursor.size = 0;
  cursor.textEnded = false;
  cursor.failed = false;
  readout.map.sectionCount = 0;
  readout.map.totalMeasures = 0;
  readout.map.totalBeats = 0;
  readout.capped = false;
  while (TakePiece(cursor, kTokenDelimiters, false)) ReadCommand(cursor, readout);
  return !cursor.failed;
}

bool ReadMapFile(const char* name, MapReadout& readout) {
  FILE* file = std::fopen(name, "r");
  if (file == nullptr) return false;
  const bool read = ParseMapText(file, readout);
  (void)std::fclose(file);  // read only: closing cannot lose data
  return read;
}
