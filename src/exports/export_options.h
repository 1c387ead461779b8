// The options that place the grid in a recording and name what the rhythm
// game files play and the picture draws: --offset, --count-in, --audio and
// --zoom, as typed and as one run uses them.
#ifndef BEATSTAMPS_EXPORT_OPTIONS_H_
#define BEATSTAMPS_EXPORT_OPTIONS_H_

#include <cstdint>

#include "base/failure.h"
#include "maps/beat_list.h"

// Where measure 1 begins in the recording, as typed: seconds, or whole samples.
struct OffsetOption {
  bool given;
  bool inSamples;  // typed with the suffix "smp"
  double seconds;
  int64_t samples;
};

struct ExportOptions {
  OffsetOption offset;
  int32_t countIn;        // measures, 0 to 16
  const char* audioName;  // null: the default
  int32_t zoom;           // pixels per second of the picture; 0: the default
};

// The beats a map was fitted to, which the picture draws over its grid.
struct BeatMarks {
  const ListedBeat* beats;  // in time order; null for a map that was not fitted
  const bool* leftOut;      // one per beat: the fit left it out; may be null
  int64_t count;
};

// What one batch run or export is written with.
struct ExportSettings {
  int64_t offsetSamples;  // added to every sample position; 0 without --offset
  bool offsetGiven;       // --offset was typed, even as 0
  int32_t countIn;
  const char* audioName;
  bool audioGiven;      // --audio was typed: the picture draws that recording
  const char* mapName;  // the map file's name as typed
  int32_t zoom;         // pixels per second of the picture
  BeatMarks marks;
};

// Each takes the text after "=", or refuses it with one line naming its option.
bool ReadOffsetOption(const char* text, OffsetOption& offset, Failure& failure);
bool ReadCountInOption(const char* text, int32_t& countIn, Failure& failure);
bool ReadAudioOption(const char* text, const char*& audioName, Failure& failure);
bool ReadZoomOption(const char* text, int32_t& zoom, Failure& failure);

bool AnyExportOption(const ExportOptions& options);

// Turns seconds into the nearest whole sample at the run's rate; refuses an
// offset at a rate of 0, which has no samples to count.
bool ResolveExportSettings(const ExportOptions& options, uint32_t sampleRate, const char* mapName,
                           ExportSettings& settings, Failure& failure);

#endif  // BEATSTAMPS_EXPORT_OPTIONS_H_
