#include "exports/osu_export.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "exports/song_title.h"
#include "exports/text_line.h"
#include "grid/midi_beat_runs.h"
#include "grid/shifted_walk.h"
#include "grid/text_grid.h"

namespace {

// A reader clamps a beat to this many milliseconds...
constexpr double kShortestBeat = 6.0;
constexpr double kLongestBeat = 60000.0;
// ...and refuses a time beyond this many.
constexpr double kLatestMilliseconds = 2147483647.0;

// The measure a section begins with; -1 for one the walk does not cover. A
// text map's section begins with the downbeat of its first measure.
int64_t SectionFirstMeasure(const GridMap& map, int32_t section) {
  const TempoMap& text = *map.text;
  if (section >= SectionsToWalk(text) || text.measures[section] <= 0) return -1;
  int64_t measure = 0;
  for (int32_t k = 0; k < section; ++k) measure += std::max(text.measures[k], 0);
  return measure;
}

bool TakePoint(void* context, const GridPoint& point) {
  *static_cast<GridPoint*>(context) = point;
  return false;
}

// The first point of the export, or one of section -1 when it has none.
GridPoint FirstPoint(const GridMap& map, const GridSettings& settings, int64_t offsetSamples) {
  GridPoint first{};
  first.section = -1;
  WalkShiftedGrid(map, settings, offsetSamples, GridVisitor{&first, TakePoint, nullptr});
  return first;
}

// The report's clock at the section's first step.
double SectionStartClock(const GridMap& map, const GridSettings& settings, int32_t section) {
  // A section that holds a measure of the range begins at a 32-bit measure.
  GridSettings firstStep = settings;
  firstStep.startMeasure = static_cast<int32_t>(SectionFirstMeasure(map, section));
  firstStep.stopMeasure = firstStep.startMeasure;
  return FirstPoint(map, firstStep, 0).clock;
}

// From the export's first point on every point is kept, so the sections
// listed are its section and every later one that begins inside the range.
void ListSections(const GridMap& map, const GridSettings& settings, int64_t offsetSamples,
                  OsuPlan& plan) {
  plan.pointCount = 0;
  const int32_t first = FirstPoint(map, settings, offsetSamples).section;
  if (first < 0) return;
  plan.points[plan.pointCount++] = OsuTimingPoint{first, 0};
  for (int32_t section = first + 1; section < kMaxSections; ++section) {
    const int64_t measure = SectionFirstMeasure(map, section);
    if (measure > settings.stopMeasure) return;
    if (measure >= 0) plan.points[plan.pointCount++] = OsuTimingPoint{section, 0};
  }
}

double BeatMilliseconds(const GridMap& map, int32_t section) {
  return 60000.0 / HeadingOf(map, section).tempo;
}

bool TimePoint(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
               OsuTimingPoint& point, Failure& failure) {
  const double beat = BeatMilliseconds(map, point.section);
  if (!(beat >= kShortestBeat && beat <= kLongestBeat)) {
    SetFailure(failure,
               "Error: An osu! file holds tempos of 1 to 10000 beats per minute! (section %i)\n",
               point.section + 1);
    return false;
  }
  const double start = ShiftClock(SectionStartClock(map, settings, point.section),
                                  placed.offsetSamples, settings.sampleRate);
  const double milliseconds = start * 1000.0;
  if (!(std::fabs(milliseconds) < kLatestMilliseconds + 0.5)) {
    SetFailure(failure, "Error: An osu! file holds times up to %.0f ms! (section %i)\n",
               kLatestMilliseconds, point.section + 1);
    return false;
  }
  point.milliseconds = std::llround(milliseconds);
  return true;
}

void PutText(ExportSink& sink, const char* text) {
  PutBytes(sink, text, std::strlen(text));
}

void PutTimingPoint(ExportSink& sink, int64_t milliseconds, double beat, int32_t beatsPerMeasure) {
  TextLine line;
  line.length = 0;
  AddInteger(line, milliseconds);
  AddCharacter(line, ',');
  AddShortest(line, beat);
  AddCharacter(line, ',');
  AddInteger(line, beatsPerMeasure);
  // Default samples at full volume; uninherited; no effects.
  static const char kRest[] = ",1,0,100,1,0\n";
  AddText(line, kRest, sizeof kRest - 1);
  PutLine(sink, line);
}

// --- a MIDI map: a timing point where each run of its beats begins -------------

// Milliseconds of a run's beats: a steady beat's exactly, from its whole
// microseconds per quarter note, to the nearest double.
double RunBeatMilliseconds(const BeatRun& run) {
  if (!run.steady) return run.milliseconds;
  return static_cast<double>(uint64_t{run.microsecondsPerQuarter} * 4) /
         std::ldexp(1000.0, run.denominatorPower);
}

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
  const double beat = RunBeatMilliseconds(run);
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
  PutTimingPoint(*timing.sink, std::llround(RunStartMilliseconds(timing, run)),
                 RunBeatMilliseconds(run), run.beatsPerMeasure);
  return !timing.sink->failed;
}

// The runs of the export's beats, from the one that holds its first point.
void WalkExportRuns(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                    RunTiming& timing, bool (*visit)(void*, const BeatRun&)) {
  const GridPoint first = FirstPoint(map, settings, placed.offsetSamples);
  if (first.section < 0) return;
  WalkBeatRuns(*map.midi, settings, first, BeatRunVisitor{&timing, visit});
}

}  // namespace

bool PlanOsu(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
             OsuPlan& plan, Failure& failure) {
  if (map.midi != nullptr) {
    plan.pointCount = 0;
    RunTiming timing{&settings, &placed, nullptr, &failure, false};
    WalkExportRuns(map, settings, placed, timing, CheckRun);
    return !timing.refused;
  }
  ListSections(map, settings, placed.offsetSamples, plan);
  for (int32_t k = 0; k < plan.pointCount; ++k) {
    if (!TimePoint(map, settings, placed, plan.points[k], failure)) return false;
  }
  return true;
}

namespace {

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

void WriteOsu(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
              const OsuPlan& plan, ExportSink& sink) {
  WriteOsuHead(placed, sink);
  PutText(sink,
          "\n[Difficulty]\nHPDrainRate:5\nCircleSize:5\nOverallDifficulty:5\nApproachRate:5\n"
          "SliderMultiplier:1.4\nSliderTickRate:1\n"
          "\n[TimingPoints]\n");
  if (map.midi != nullptr) {
    RunTiming timing{&settings, &placed, &sink, nullptr, false};
    WalkExportRuns(map, settings, placed, timing, PutRun);
  }
  for (int32_t k = 0; k < plan.pointCount; ++k) {
    const OsuTimingPoint& point = plan.points[k];
    PutTimingPoint(sink, point.milliseconds, BeatMilliseconds(map, point.section),
                   HeadingOf(map, point.section).beatsPerMeasure);
  }
  PutText(sink, "\n[HitObjects]\n");
}
