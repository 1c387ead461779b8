#include "exports/song_title.h"

#include <cstring>

bool FitsSongField(char character) {
  const auto code = static_cast<unsigned char>(character);
  if (code < 0x20 || code == 0x7F) return false;
  return std::strchr(":;#\\", character) == nullptr;
}

void AddSongText(TextLine& line, const char* text) {
  for (const char* c = text; *c != '\0'; ++c) AddCharacter(line, FitsSongField(*c) ? *c : '_');
}

void AddSongTitle(TextLine& line, const char* mapFileName) {
  const char* slash = std::strrchr(mapFileName, '/');
  const char* name = slash != nullptr ? slash + 1 : mapFileName;
  const char* dot = std::strrchr(name, '.');
  // A name that only begins with a dot keeps it.
  const size_t length =
      dot != nullptr && dot != name ? static_cast<size_t>(dot - name) : std::strlen(name);
  for (size_t k = 0; k < length; ++k) {
    AddCharacter(line, FitsSongField(name[k]) ? name[k] : '_');
  }
}
