#include "exports/osu_export.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "exports/song_title.h"
#include "exports/text_line.h"
#include "grid/beat_runs.h"
#include "grid/shifted_walk.h"

namespace {

// A reader clamps a beat to this many milliseconds...
constexpr double kShortestBeat = 6.0;
constexpr double kLongestBeat = 60000.0;
// ...and refuses a time beyond this many.
constexpr double kLatestMilliseconds = 2147483647.0;

// A point inside a measure omits the bar line a reader would draw at it
// (the effect "omit first barline", 8), so no false bar line appears.
void PutTimingPoint(ExportSink& sink, int64_t milliseconds, double beat, int32_t beatsPerMeasure,
                    bool downbeat) {
  TextLine line;
  line.length = 0;
  AddInteger(line, milliseconds);
  AddCharacter(line, ',');
  AddShortest(line, beat);
  AddCharacter(line, ',');
  AddInteger(line, beatsPerMeasure);
  // Default samples at full volume; uninherited.
  static const char kRest[] = ",1,0,100,1,";
  AddText(line, kRest, sizeof kRest - 1);
  AddText(line, downbeat ? "0\n" : "8\n", 2);
  PutLine(sink, line);
}

// --- a timing point where each run of the beats begins --------------------------

struct RunTiming {
  const GridSettings* settings;
  const ExportSettings* placed;
  ExportSink* sink;  // null while planning
  Failure* failure;  // set while planning
  bool refused;
};

double RunStartMilliseconds(const RunTiming& timing, const BeatRun& run) {
  return ShiftClock(run.clock, timing.placed->offsetSamples, timing.settings->sampleRate) * 1000.0;
}

bool CheckRun(void* context, const BeatRun& run) {
  RunTiming& timing = *static_cast<RunTiming*>(context);
  const double beat = run.milliseconds;
  if (!(beat >= kShortestBeat && beat <= kLongestBeat)) {
    SetFailure(
        *timing.failure,
        run.steady
            ? "Error: An osu! file holds tempos of 1 to 10000 beats per minute! (section %i)\n"
            : "Error: An osu! file holds beats of 6 to 60000 ms! (section %i)\n",
        run.section + 1);
    timing.refused = true;
    return false;
  }
  if (!(std::fabs(RunStartMilliseconds(timing, run)) < kLatestMilliseconds + 0.5)) {
    SetFailure(*timing.failure, "Error: An osu! file holds times up to %.0f ms! (section %i)\n",
               kLatestMilliseconds, run.section + 1);
    timing.refused = true;
    return false;
  }
  return true;
}

bool PutRun(void* context, const BeatRun& run) {
  const RunTiming& timing = *static_cast<RunTiming*>(context);
  PutTimingPoint(*timing.sink, std::llround(RunStartMilliseconds(timing, run)), run.milliseconds,
                 run.beatsPerMeasure, run.downbeat);
  return !timing.sink->failed;
}

// The runs of the export's beats, from the one that holds its first point.
void WalkExportRuns(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                    RunTiming& timing, bool (*visit)(void*, const BeatRun&)) {
  GridPoint first{};
  if (!FirstShiftedPoint(map, settings, placed.offsetSamples, first)) return;
  WalkBeatRuns(map, settings, first, BeatRunVisitor{&timing, visit});
}

// A [Metadata] line: `key` and the text.
void PutMetadata(ExportSink& sink, const char* key, const char* text) {
  PutText(sink, key);
  TextLine line;
  line.length = 0;
  AddSongText(line, text);
  PutLine(sink, line);
  PutText(sink, "\n");
}

// The song's title: the map's title line, or its file's name. Title is
// meant to be the romanised one; a map gives just one, so both hold it.
void PutTitles(ExportSink& sink, const ExportSettings& placed) {
  TextLine title;
  title.length = 0;
  if (placed.title != nullptr) {
    AddSongText(title, placed.title);
  } else {
    AddSongTitle(title, placed.mapName);
  }
  for (const char* key : {"Title:", "TitleUnicode:"}) {
    PutText(sink, key);
    PutBytes(sink, title.text, title.length);
    PutText(sink, "\n");
  }
}

void WriteOsuHead(const ExportSettings& placed, ExportSink& sink) {
  PutText(sink, "osu file format v14\n\n[General]\nAudioFilename: ");
  PutText(sink, placed.audioName);
  PutText(sink, "\nAudioLeadIn: 0\nPreviewTime: -1\nCountdown: 0\nSampleSet: Normal\nMode: ");
  TextLine mode;
  mode.length = 0;
  AddInteger(mode, static_cast<int64_t>(placed.osuMode));
  PutLine(sink, mode);
  PutText(sink, "\n\n[Metadata]\n");
  PutTitles(sink, placed);
  PutMetadata(sink, "Artist:", placed.artist);
  PutMetadata(sink, "ArtistUnicode:", placed.artist);
  PutMetadata(sink, "Creator:", placed.creator);
  PutText(sink, "Version:Beat grid\nSource:\nTags:\nBeatmapID:0\nBeatmapSetID:-1\n");
}

}  // namespace

bool PlanOsu(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
             Failure& failure) {
  RunTiming timing{&settings, &placed, nullptr, &failure, false};
  WalkExportRuns(map, settings, placed, timing, CheckRun);
  return !timing.refused;
}

void WriteOsu(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
              ExportSink& sink) {
  WriteOsuHead(placed, sink);
  PutText(sink,
          "\n[Difficulty]\nHPDrainRate:5\nCircleSize:5\nOverallDifficulty:5\nApproachRate:5\n"
          "SliderMultiplier:1.4\nSliderTickRate:1\n"
          "\n[TimingPoints]\n");
  RunTiming timing{&settings, &placed, &sink, nullptr, false};
  WalkExportRuns(map, settings, placed, timing, PutRun);
  PutText(sink, "\n[HitObjects]\n");
}
