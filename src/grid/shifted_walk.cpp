#include "grid/shifted_walk.h"

namespace {

struct Shift {
  const GridVisitor* visitor;
  int64_t offsetSamples;
  uint32_t sampleRate;
  bool dropped;  // a point has been left out
  bool kept;     // a point has been passed on
};

bool VisitShiftedPoint(void* context, const GridPoint& point) {
  Shift& shift = *static_cast<Shift*>(context);
  GridPoint moved = point;
  moved.samplePosition = ShiftSamplePosition(point.samplePosition, shift.offsetSamples);
  if (moved.samplePosition < 0) {
    shift.dropped = true;
    return true;
  }
  // The sample position decides; the time of a point kept may round to a
  // hair below 0, and is then 0.
  const double clock = ShiftClock(point.clock, shift.offsetSamples, shift.sampleRate);
  moved.clock = clock < 0.0 ? 0.0 : clock;
  shift.kept = true;
  return shift.visitor->visitPoint(shift.visitor->context, moved);
}

// A measure starts between points that were left out: nothing to separate yet.
bool EnterShiftedMeasure(void* context, int64_t measure) {
  Shift& shift = *static_cast<Shift*>(context);
  if (shift.dropped && !shift.kept) return true;
  return shift.visitor->enterMeasure(shift.visitor->context, measure);
}

bool TakePoint(void* context, const GridPoint& point) {
  *static_cast<GridPoint*>(context) = point;
  return false;
}

}  // namespace

int64_t ShiftSamplePosition(int64_t position, int64_t offsetSamples) {
  int64_t moved = 0;
  if (!__builtin_add_overflow(position, offsetSamples, &moved)) return moved;
  return offsetSamples > 0 ? INT64_MAX : INT64_MIN;
}

double ShiftClock(double clock, int64_t offsetSamples, uint32_t sampleRate) {
  if (offsetSamples == 0) return clock;
  return clock + static_cast<double>(offsetSamples) / static_cast<double>(sampleRate);
}

void WalkShiftedGrid(const GridMap& map, const GridSettings& settings, int64_t offsetSamples,
                     const GridVisitor& visitor) {
  if (offsetSamples == 0) {
    WalkGrid(map, settings, visitor);
    return;
  }
  Shift shift{&visitor, offsetSamples, settings.sampleRate, false, false};
  // The points an offset back moves before 0 are passed over at once: their
  // number has no bound.
  const int64_t firstSample = offsetSamples >= 0           ? 0
                              : offsetSamples == INT64_MIN ? INT64_MAX
                                                           : -offsetSamples;
  WalkGridFrom(map, settings, firstSample,
               GridVisitor{&shift, VisitShiftedPoint,
                           visitor.enterMeasure != nullptr ? EnterShiftedMeasure : nullptr});
}

bool FirstShiftedPoint(const GridMap& map, const GridSettings& settings, int64_t offsetSamples,
                       GridPoint& point) {
  point = GridPoint{};
  point.section = -1;
  WalkShiftedGrid(map, settings, offsetSamples, GridVisitor{&point, TakePoint, nullptr});
  return point.section >= 0;
}
