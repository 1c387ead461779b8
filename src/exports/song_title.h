// The names an osu! or StepMania file holds: its title, taken from the map's
// title line or the map file's name, and the recording it plays.
#ifndef BEATSTAMPS_SONG_TITLE_H_
#define BEATSTAMPS_SONG_TITLE_H_

#include "exports/text_line.h"

// False for a character that would end or split a field of those files: a
// control character or any of : ; # and the backslash.
bool FitsSongField(char character);

// The map file's name without its folders and its last extension, with every
// character that does not fit a field put as '_'.
void AddSongTitle(TextLine& line, const char* mapFileName);

// `text` whole, each character that does not fit a field put as '_'.
void AddSongText(TextLine& line, const char* text);

#endif  // BEATSTAMPS_SONG_TITLE_H_
