#include "osu_export.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "shifted_walk.h"
#include "song_title.h"
#include "text_line.h"

namespace {

// A reader clamps a beat to this many milliseconds...
constexpr double kShortestBeat = 6.0;
constexpr double kLongestBeat = 60000.0;
// ...and refuses a time beyond this many.
constexpr double kLatestMilliseconds = 2147483647.0;

bool ListSection(void* context, const GridPoint& point) {
  OsuPlan& plan = *static_cast<OsuPlan*>(context);
  if (plan.pointCount > 0 && plan.points[plan.pointCount - 1].section == point.section) {
    return true;
  }
  plan.points[plan.pointCount++] = OsuTimingPoint{point.section, 0};
  return true;
}

bool TakeClock(void* context, const GridPoint& point) {
  *static_cast<double*>(context) = point.clock;
  return false;
}

// The report's clock at the section's first step. A text map's section
// begins with the downbeat of its first measure.
double SectionStartClock(const GridMap& map, const GridSettings& settings, int32_t section) {
  const TempoMap& text = *map.text;
  int64_t firstMeasure = 0;
  for (int32_t k = 0; k < section; ++k) firstMeasure += std::max(text.measures[k], 0);
  // A section that holds a measure of the range begins at a 32-bit measure.
  GridSettings firstStep = settings;
  firstStep.startMeasure = static_cast<int32_t>(firstMeasure);
  firstStep.stopMeasure = firstStep.startMeasure;
  double clock = 0.0;
  WalkGrid(map, firstStep, GridVisitor{&clock, TakeClock, nullptr});
  return clock;
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
  plan.pointCount = 0;
  WalkShiftedGrid(map, settings, placed.offsetSamples, GridVisitor{&plan, ListSection, nullptr});
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
