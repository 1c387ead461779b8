// The options that place the grid in a recording and name what the rhythm
// game files play and the picture draws: --offset, --count-in, --audio and
// --zoom, as typed and as one run uses them.
#ifndef BEATSTAMPS_EXPORT_OPTIONS_H_
#define BEATSTAMPS_EXPORT_OPTIONS_H_

#include <cstdint>

#include "base/failure.h"
#include "grid/beat_fit.h"
#include "maps/map_offset.h"

// The game an osu! file is played in: its [General] Mode.
enum class OsuMode : uint8_t { kOsu, kTaiko, kCatch, kMania };

// The MIDI file's tempo track: exact, the tempo carried beat by beat so that
// every click keeps its time; or one tempo a section, each click on the tick
// nearest its time, as a sequencer's user reads it.
enum class MidiTempoTrack : uint8_t { kExact, kSection };

struct ExportOptions {
  OffsetOption offset;
  int32_t countIn;        // measures, 0 to 16
  const char* audioName;  // null: the default
  // Who the osu! file credits (null: its defaults), and its game.
  const char* artist = nullptr;
  const char* creator = nullptr;
  OsuMode osuMode = OsuMode::kOsu;
  MidiTempoTrack midiTempo = MidiTempoTrack::kExact;
  int32_t zoom = 0;  // pixels per second of the picture; 0: the default
};

// Told of each warning an export's plan finds: one line, with its newline.
struct ExportWarnings {
  void* context;
  void (*warn)(void* context, const char* line);
};

// The beats a map was fitted to, which the picture draws over its grid.
struct BeatMarks {
  const FittedBeat* beats;  // in time order; null for a map that was not fitted
  int64_t count;
};

struct SettingsLines;  // a text map's settings lines (maps/map_reader.h)

// What one batch run or export is written with.
struct ExportSettings {
  int64_t offsetSamples;  // added to every sample position; 0 without --offset
  bool offsetGiven;       // --offset was typed (even as 0), or the map has an offset line
  OffsetOption offset;    // that offset as written
  int32_t countIn;
  const char* audioName;
  bool audioGiven;      // --audio was typed: the picture draws that recording
  const char* mapName;  // the map file's name as typed
  // The settings lines of the text map in force, as it was read; null for a
  // fitted beat list and a MIDI map.
  const SettingsLines* mapLines;
  int32_t zoom;  // pixels per second of the picture
  BeatMarks marks;
  const char* title = nullptr;  // the map's title line; null: the file's name stands for it
  const char* artist = "Unknown artist";
  const char* creator = "beatstamps1a";
  OsuMode osuMode = OsuMode::kOsu;
  MidiTempoTrack midiTempo = MidiTempoTrack::kExact;
  const ExportWarnings* warnings = nullptr;  // null: none are told
  const ExportWarnings* notes = nullptr;     // what an export tells besides: never counted
};

// Each takes the text after "=", or refuses it with one line naming its option.
bool ReadOffsetOption(const char* text, OffsetOption& offset, Failure& failure);
bool ReadCountInOption(const char* text, int32_t& countIn, Failure& failure);
bool ReadAudioOption(const char* text, const char*& audioName, Failure& failure);
// --artist and --creator: `option` names the one read.
bool ReadCreditOption(const char* option, const char* text, const char*& credit, Failure& failure);
bool ReadOsuModeOption(const char* text, OsuMode& mode, Failure& failure);
bool ReadMidiTempoOption(const char* text, MidiTempoTrack& track, Failure& failure);
bool ReadZoomOption(const char* text, int32_t& zoom, Failure& failure);

bool AnyExportOption(const ExportOptions& options);

// Turns seconds into the nearest whole sample at the run's rate; refuses an
// offset at a rate of 0, which has no samples to count.
bool ResolveExportSettings(const ExportOptions& options, uint32_t sampleRate, const char* mapName,
                           ExportSettings& settings, Failure& failure);

#endif  // BEATSTAMPS_EXPORT_OPTIONS_H_
