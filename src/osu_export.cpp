#include "osu_export.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "shifted_walk.h"
#include "song_title.h"
#include "text_grid.h"
#include "text_line.h"

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

void PutTimingPoint(ExportSink& sink, const GridMap& map, const OsuTimingPoint& point) {
  TextLine line;
  line.length = 0;
  AddInteger(line, point.milliseconds);
  AddCharacter(line, ',');
  AddShortest(line, BeatMilliseconds(map, point.section));
  AddCharacter(line, ',');
  AddInteger(line, HeadingOf(map, point.section).beatsPerMeasure);
  // Default samples at full volume; uninherited; no effects.
  static const char kRest[] = ",1,0,100,1,0\n";
  AddText(line, kRest, sizeof kRest - 1);
  PutLine(sink, line);
}

}  // namespace

bool PlanOsu(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
             OsuPlan& plan, Failure& failure) {
  if (map.midi != nullptr) {
    SetFailure(failure, "Error: The %s format takes no MIDI map yet!\n", "osu");
    return false;
  }
  ListSections(map, settings, placed.offsetSamples, plan);
  for (int32_t k = 0; k < plan.pointCount; ++k) {
    if (!TimePoint(map, settings, placed, plan.points[k], failure)) return false;
  }
  return true;
}

void WriteOsu(const GridMap& map, const ExportSettings& placed, const OsuPlan& plan,
              ExportSink& sink) {
  PutText(sink, "osu file format v14\n\n[General]\nAudioFilename: ");
  PutText(sink, placed.audioName);
  PutText(sink,
          "\nAudioLeadIn: 0\nPreviewTime: -1\nCountdown: 0\nSampleSet: Normal\nMode: 0\n"
          "\n[Metadata]\nTitle:");
  TextLine title;
  title.length = 0;
  AddSongTitle(title, placed.mapName);
  PutLine(sink, title);
  PutText(sink,
          "\nVersion:Beat grid\n"
          "\n[Difficulty]\nHPDrainRate:5\nCircleSize:5\nOverallDifficulty:5\nApproachRate:5\n"
          "SliderMultiplier:1.4\nSliderTickRate:1\n"
          "\n[TimingPoints]\n");
  for (int32_t k = 0; k < plan.pointCount; ++k) PutTimingPoint(sink, map, plan.points[k]);
  PutText(sink, "\n[HitObjects]\n");
}
