#include "grid/beat_fit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <limits>
#include <numeric>

#include "grid/clock.h"
#include "grid/text_grid.h"

namespace {

constexpr double kSecondsPerMinute = 60.0;
constexpr double kDefaultToleranceMs = 25.0;
constexpr int32_t kDefaultMeter = 4;
constexpr int64_t kUnmatched = std::numeric_limits<int64_t>::min();
constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Gaps around a beat whose median is the beat length there.
constexpr int64_t kPeriodWindow = 8;
// Beat lengths this part apart or less are one tempo.
constexpr double kSameLength = 0.1;
// A beat further than this part of a beat from the nearest whole beat after
// the one before it lies between two grid beats: an extra detection.
constexpr double kLargestPhaseMiss = 0.25;
// Beats on each side of a beat that predict where it should lie.
constexpr int64_t kNeighbours = 4;
// Measures a section's end may move back from the furthest it reaches, so
// that the next section reaches further or fits better.
constexpr int32_t kBackOff = 4;
// Grid beats a list may span, per listed beat: longer gaps are no rhythm.
constexpr int64_t kMostGridBeatsPerListed = 64;
constexpr int64_t kMostGridBeats = int64_t{1} << 30;
constexpr double kToleranceGrowth = 1.25;

// A listed beat matched to a grid beat (counted from the first listed beat).
struct Matched {
  int64_t beat;
  double seconds;
  size_t listed;
};

// The periods a section that starts at a fixed time can take and keep every
// beat so far within the tolerance, and the least-squares sums that choose one.
struct Corridor {
  double lo;
  double hi;
  double sxx;  // sum of beats from the section's start, squared
  double sxu;  // sum of beats times seconds from the section's start
};

struct Tempo {
  float bpm;
  double period;  // what the clock adds per beat
};

struct Segment {
  int32_t firstMeasure;
  int32_t endMeasure;
  Tempo tempo;
  double startClock;  // the clock at its first beat, measure 1 at 0
};

struct Fit {
  const std::vector<ListedBeat>& listed;
  FitOptions options;
  double tolerance;  // seconds
  double typicalPeriod;
  std::vector<Matched> kept;
  std::vector<bool> dropped;    // per kept beat: left out by the sections
  std::vector<int64_t> bars;    // grid beats where measures begin; the last ends the list
  std::vector<size_t> firstOf;  // per bar: the first kept beat at or after it
  double offset;
  std::vector<Segment> segments;
};

double MedianOf(std::vector<double>& values) {
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

// kPeriodWindow gaps from `from`, the window moved inside the list at its
// ends. Taken for every listed beat, so on the stack rather than in a new
// list.
struct GapWindow {
  std::array<double, kPeriodWindow> gaps;
  int64_t size;
};

GapWindow GapWindowAt(const std::vector<double>& gaps, int64_t from) {
  const auto count = static_cast<int64_t>(gaps.size());
  from = std::clamp<int64_t>(from, 0, std::max<int64_t>(count - kPeriodWindow, 0));
  GapWindow window{{}, std::max<int64_t>(std::min(from + kPeriodWindow, count) - from, 0)};
  std::copy_n(gaps.begin() + from, window.size, window.gaps.begin());
  return window;
}

// The median of the window's gaps; 0 for a window of none.
double MedianOfWindow(GapWindow window) {
  if (window.size <= 0) return 0.0;
  double* const middle = window.gaps.data() + window.size / 2;
  std::nth_element(window.gaps.data(), middle, window.gaps.data() + window.size);
  return *middle;
}

// Whole beats of `length` that `gap` spans within the tolerance; 0 when it
// spans no whole number of them.
int64_t WholeBeats(double gap, double length, double tolerance) {
  const double beats = gap / length;
  if (!(beats < 0x1p52)) return 0;
  const double steps = std::round(beats);
  return steps >= 1.0 && std::fabs(gap - steps * length) <= tolerance ? static_cast<int64_t>(steps)
                                                                      : 0;
}

// Whether every gap of the window spans whole beats of `length`, alone or,
// where an extra beat splits one, together with the gap after it. A gap at
// either end may be the piece of one split across the window's edge.
bool SpansWholeBeats(const std::array<double, kPeriodWindow>& window, int64_t size, double length,
                     double tolerance) {
  for (int64_t k = 0; k < size; ++k) {
    if (WholeBeats(window[k], length, tolerance) > 0) continue;
    if (k + 1 < size && WholeBeats(window[k] + window[k + 1], length, tolerance) > 0) {
      ++k;
    } else if (k != 0 && k + 1 != size) {
      return false;
    }
  }
  return true;
}

// The gaps from the window's start that span whole beats of `length`, alone
// or two around an extra beat together, before the first that does not.
int64_t LeadingRun(const std::array<double, kPeriodWindow>& window, int64_t size, double length,
                   double tolerance) {
  int64_t k = 0;
  while (k < size) {
    if (WholeBeats(window[k], length, tolerance) > 0) {
      ++k;
    } else if (k + 1 < size && WholeBeats(window[k] + window[k + 1], length, tolerance) > 0) {
      k += 2;
    } else {
      break;
    }
  }
  return k;
}

// The gaps of a run from the window's start that span one beat of its
// length.
struct SingleBeats {
  std::array<double, kPeriodWindow> gaps;
  int64_t count;
};

SingleBeats SingleBeatsOf(const std::array<double, kPeriodWindow>& window, int64_t run,
                          double length, double tolerance) {
  SingleBeats singles{{}, 0};
  for (int64_t k = 0; k < run; ++k) {
    if (WholeBeats(window[k], length, tolerance) == 1) singles.gaps.at(singles.count++) = window[k];
  }
  return singles;
}

// A length shorter than this part of the window's median spans whole beats
// of nearly any gap within the tolerance, and so tells nothing.
constexpr double kShortestRunLength = 0.4;

// Of the window's gaps taken as the length, the one whose run from the
// window's start reaches over more than half the window, at least half of
// it one beat each, and furthest; of two runs alike, the shorter length, as
// a longer one spans pairs of beats. No single beats when there is none.
SingleBeats LongestLeadingRun(const std::array<double, kPeriodWindow>& window, int64_t size,
                              double median, double tolerance) {
  int64_t longestRun = size / 2;
  double length = kInfinity;
  SingleBeats best{{}, 0};
  for (int64_t k = 0; k < size; ++k) {
    if (window[k] < kShortestRunLength * median) continue;
    const int64_t run = LeadingRun(window, size, window[k], tolerance);
    const SingleBeats singles = SingleBeatsOf(window, run, window[k], tolerance);
    if (2 * singles.count < run) continue;
    if (run > longestRun || (run == longestRun && best.count > 0 && window[k] < length)) {
      longestRun = run;
      length = window[k];
      best = singles;
    }
  }
  return best;
}

// Where no one length spans every gap of the window, it reaches across a
// tempo change, and a gap of missed beats on the near side can be its
// median, a length of neither side. The beat at the window's start lies on
// the near side: the median of the single beats of the longest run from
// there holds, when there is one.
double LeadingLength(const std::array<double, kPeriodWindow>& window, int64_t size, double median,
                     double tolerance) {
  SingleBeats run = LongestLeadingRun(window, size, median, tolerance);
  if (run.count == 0) return median;
  double* const middle = run.gaps.data() + run.count / 2;
  std::nth_element(run.gaps.data(), middle, run.gaps.data() + run.count);
  return *middle;
}

// The beat length around the gaps from `from`: their median, unless the
// median leaves gaps that span no whole beats of it and a longer gap spans
// every gap. Extra beats close together split gaps into pieces that can
// outnumber the whole ones; the pieces then pair up into whole beats of the
// true length, never of the median. A length near a whole multiple of the
// median is the median with beats missed.
double LocalLength(const std::vector<double>& gaps, int64_t from, double tolerance) {
  const GapWindow window = GapWindowAt(gaps, from);
  const double median = MedianOfWindow(window);
  if (window.size <= 0) return median;
  const int64_t size = window.size;
  if (SpansWholeBeats(window.gaps, size, median, tolerance)) return median;
  for (int64_t k = 0; k < size; ++k) {
    const double gap = window.gaps[k];
    const double ratio = gap / median;
    if (ratio > 1.0 + kSameLength && std::fabs(ratio - std::round(ratio)) > kSameLength &&
        SpansWholeBeats(window.gaps, size, gap, tolerance)) {
      return gap;
    }
  }
  return LeadingLength(window.gaps, size, median, tolerance);
}

// Whether the gaps from `from` keep the beat length `length` though their
// median spans more beats: every gap spans whole beats of it (or two gaps
// around an extra beat do together), and some gap just one. Then beats were
// missed close together; a tempo that slows to near a whole part of itself
// leaves no gap of the old length, and is off the whole beats by more than
// the tolerance.
bool KeepsLengthThroughMisses(const std::vector<double>& gaps, int64_t from, double length,
                              double tolerance) {
  const GapWindow window = GapWindowAt(gaps, from);
  const auto& gap = window.gaps;
  bool single = false;
  for (int64_t k = 0; k < window.size; ++k) {
    const int64_t steps = WholeBeats(gap[k], length, tolerance);
    if (steps == 1) single = true;
    if (steps > 0) continue;
    if (k + 1 == window.size || WholeBeats(gap[k] + gap[k + 1], length, tolerance) == 0) {
      return false;
    }
    ++k;
  }
  return single;
}

struct Phase {
  int64_t steps;   // whole beats from the previous matched beat
  double miss;     // how far from them, as a part of a beat
  double offBy;    // how far from them, in seconds
  double seconds;  // where those beats end, after the previous matched beat
};

// Beats missed across a tempo change take some beats of the length before
// it and the rest of the length after it: the split that fits best, up to
// this many beats.
constexpr int64_t kMostSplitBeats = 16;
// Misses are few: of two ways to place a beat, the one that takes a beat
// less is taken unless the other is this part of the tolerance closer. A
// part of the tolerance, not of a beat: a slow beat's part would outweigh
// the whole tolerance, and a beat missed just before a tempo change that
// halves it would be read as the first beat of the new tempo.
constexpr double kMissedBeatWeight = 0.4;
// A part of the tolerance by which one beat is clearly nearer its place
// than another.
constexpr double kClearlyNearer = 0.2;
// A part of the tolerance that a way to place a beat costs when the beat
// numbers say another count of beats: it breaks the tie where a slow beat
// and two fast ones, or one long beat and two short ones, fit alike.
constexpr double kNumbersDisagree = 1.0;
// A part of the tolerance within which a beat is surely placed: a next beat
// that reads the time across a tempo change the other way does not take
// its grid beat.
constexpr double kSurelyPlaced = 0.5;

// How the matching weighs a missed beat and a clearly nearer beat, in seconds.
struct Weights {
  double missedBeat;
  double clearlyNearer;
  double numbersDisagree;
  double surelyPlaced;
};

Weights WeightsFor(double tolerance) {
  return Weights{kMissedBeatWeight * tolerance, kClearlyNearer * tolerance,
                 kNumbersDisagree * tolerance, kSurelyPlaced * tolerance};
}

// The whole beats between two beats that their numbers in their measures
// say: exactly the difference within one measure, or at least the later
// number when the later one begins a new measure. Zero where a number is
// missing.
struct StepsSaid {
  int64_t exactly;
  int64_t atLeast;
};

StepsSaid StepsBetweenNumbers(int32_t earlier, int32_t later) {
  if (earlier < 1 || later < 1) return StepsSaid{0, 0};
  if (later > earlier) return StepsSaid{later - earlier, 0};
  return StepsSaid{0, later};
}

bool Disagrees(const StepsSaid& said, int64_t steps) {
  return (said.exactly > 0 && steps != said.exactly) || steps < said.atLeast;
}

double CostOf(const Phase& phase, const Weights& weights, const StepsSaid& said) {
  return phase.offBy + weights.missedBeat * static_cast<double>(phase.steps) +
         (Disagrees(said, phase.steps) ? weights.numbersDisagree : 0.0);
}

// Whether `phase` places a beat better than `best`.
bool IsBetterPhase(const Phase& phase, const Phase& best, const Weights& weights,
                   const StepsSaid& said) {
  return CostOf(phase, weights, said) < CostOf(best, weights, said);
}

Phase PhaseOf(double seconds, double before, double after, const Weights& weights,
              const StepsSaid& said = StepsSaid{0, 0}) {
  if (!(before > 0.0) || !(after > 0.0)) return Phase{0, 1.0, kInfinity, 0.0};
  const double shorter = std::min(before, after);
  if (!(seconds / shorter < 0x1p52)) return Phase{0, 1.0, kInfinity, 0.0};
  Phase best{0, 1.0e9, kInfinity, 0.0};
  const auto most = static_cast<int64_t>(std::llround(seconds / shorter)) + 1;
  for (const double period : {before, after}) {
    const auto steps = static_cast<int64_t>(std::llround(seconds / period));
    const double length = static_cast<double>(steps) * period;
    const Phase phase{steps, std::fabs(seconds - length) / period, std::fabs(seconds - length),
                      length};
    if (steps >= 1 && IsBetterPhase(phase, best, weights, said)) best = phase;
  }
  for (int64_t steps = 2; steps <= std::min(most, kMostSplitBeats); ++steps) {
    for (int64_t first = 1; first < steps; ++first) {
      const double length =
          static_cast<double>(first) * before + static_cast<double>(steps - first) * after;
      const double offBy = std::fabs(seconds - length);
      const Phase phase{steps, offBy / after, offBy, length};
      if (IsBetterPhase(phase, best, weights, said)) best = phase;
    }
  }
  return best;
}

// What the numbers say of the whole beats to a beat and to the one after it.
struct NumbersOfBoth {
  StepsSaid beat;
  StepsSaid next;
};

// The beat after `k` is the one grid beat k would be: it lies nearer where
// k's beats end, or it is clearly nearer a whole beat by a length of its own.
// Where the two reach that grid beat by lengths a beat apart in time, one
// of them crosses a tempo change that the other does not: each fits its own
// reading, so k gives way only when it is not surely placed. Nor does it
// give way where its numbers agree with its beats and the next one's do
// not: a beat length read a little long just after a tempo change puts k
// off its place by more than the next beat's numbers allow.
bool NextFitsBetter(const std::vector<ListedBeat>& listed, int64_t previous, int64_t k,
                    const Phase& phase, double before, double after, const Weights& weights,
                    const NumbersOfBoth& numbers) {
  const double at = listed[previous].seconds + phase.seconds;
  if (std::fabs(listed[k + 1].seconds - at) < std::fabs(listed[k].seconds - at)) return true;
  const Phase next =
      PhaseOf(listed[k + 1].seconds - listed[previous].seconds, before, after, weights);
  if (!Disagrees(numbers.beat, phase.steps) && Disagrees(numbers.next, next.steps)) return false;
  const bool samePlace = std::fabs(next.seconds - phase.seconds) < 0.5 * std::min(before, after);
  return next.steps == phase.steps && (samePlace || phase.offBy > weights.surelyPlaced) &&
         next.offBy + weights.clearlyNearer < phase.offBy;
}

// Matches every listed beat to a grid beat by the whole beats between it and
// the previous matched beat, the beat length taken from the gaps before and
// after it. A beat between grid beats, or one that the next beat matches
// better, is no beat of the grid.
// Two beats in a row that the matched beat before them places between grid
// beats, though they lie a whole beat apart, say that beat was the extra
// one: `anchor`, the first of them, is placed by the time from it, and takes
// its grid beat where it rounds to the same.
void Reanchor(const std::vector<ListedBeat>& listed, double period, int64_t& previous,
              int64_t anchor, std::vector<int64_t>& gridBeat) {
  const double beats = (listed[anchor].seconds - listed[previous].seconds) / period;
  const int64_t steps = beats < 0x1p52 ? std::llround(beats) : 0;
  gridBeat[anchor] = gridBeat[previous] + steps;
  if (steps <= 0) gridBeat[previous] = kUnmatched;
  previous = anchor;
}

// The whole beats the numbers say lie from the listed beat `from` to `to`,
// in a list that runs back in time when `reversed`.
StepsSaid NumbersSay(const std::vector<ListedBeat>& listed, int64_t from, int64_t to,
                     bool reversed) {
  const int32_t first = listed[from].beatInMeasure;
  const int32_t second = listed[to].beatInMeasure;
  return reversed ? StepsBetweenNumbers(second, first) : StepsBetweenNumbers(first, second);
}

// Matched beats back from a numbered beat in which to look for the measure
// before its own.
constexpr int64_t kMeasureLookBack = 32;

// The beats of the measure before the one that the matched beat `at` lies
// in, by the numbers of the matched beats before it; 0 when the numbers do
// not tell.
int64_t MeasureBefore(const std::vector<ListedBeat>& listed, const std::vector<int64_t>& gridBeat,
                      int64_t at) {
  const int32_t number = listed[at].beatInMeasure;
  if (number < 1) return 0;
  const int64_t start = gridBeat[at] - (number - 1);
  for (int64_t k = at - 1; k >= std::max<int64_t>(at - kMeasureLookBack, 0); --k) {
    if (gridBeat[k] == kUnmatched || listed[k].beatInMeasure < 1) continue;
    const int64_t earlierStart = gridBeat[k] - (listed[k].beatInMeasure - 1);
    if (earlierStart < start) return start - earlierStart;
  }
  return 0;
}

// Listed beats from a bar line in which to read the meter after it.
constexpr int64_t kMeterLookAhead = 16;

// The largest number of the beats listed from `from` while their numbers
// rise: the meter of the measure that begins there, or less where its last
// beats were missed.
int64_t NumberedMeterFrom(const std::vector<ListedBeat>& listed, int64_t from) {
  const auto end = std::min(from + kMeterLookAhead, static_cast<int64_t>(listed.size()));
  int32_t largest = listed[from].beatInMeasure;
  for (int64_t k = from + 1; k < end && listed[k].beatInMeasure > largest; ++k) {
    largest = listed[k].beatInMeasure;
  }
  return largest;
}

// A beat already some way into its measure lies in the section of the
// measure before it, whose meter then holds: where the next number begins a
// new measure, the beats up to it finish that measure. A tempo that doubles
// or halves there otherwise reads the missed end of the measure as fewer
// beats of the other length.
//
// A beat that begins its measure may begin a new section too; its measure
// then takes the meter after it. Either way it holds at least the shorter
// of the meters around it, not a measure of fewer beats than both.
StepsSaid FinishesMeasure(const std::vector<ListedBeat>& listed,
                          const std::vector<int64_t>& gridBeat, int64_t previous, int64_t k) {
  StepsSaid said = NumbersSay(listed, previous, k, false);
  if (said.atLeast < 1) return said;
  const int32_t number = listed[previous].beatInMeasure;
  int64_t measure = MeasureBefore(listed, gridBeat, previous);
  if (number == 1) measure = std::min(measure, NumberedMeterFrom(listed, k));
  const int64_t rest = measure - number;
  if (rest >= 0) said.atLeast = std::max(said.atLeast, rest + listed[k].beatInMeasure);
  return said;
}

std::vector<int64_t> MatchGridBeats(const std::vector<ListedBeat>& listed, double tolerance,
                                    bool reversed) {
  const Weights weights = WeightsFor(tolerance);
  const auto count = static_cast<int64_t>(listed.size());
  std::vector<double> gaps;
  for (int64_t k = 1; k < count; ++k) gaps.push_back(listed[k].seconds - listed[k - 1].seconds);
  std::vector<int64_t> gridBeat(listed.size(), kUnmatched);
  gridBeat[0] = 0;
  int64_t previous = 0;
  double lastPeriod = 0.0;  // between the last two matched beats
  // Once the last matched beats keep the length after a tempo change, the
  // length before it is behind them. They keep it only when nearer it than
  // the length behind: a tempo that changes by less than a tenth would
  // otherwise place the first beat after the change by the new length.
  int64_t behindFrom = -1;  // the matched beat `behind` was taken before
  double behind = 0.0;
  const auto lengthBefore = [&](double after) {
    if (behindFrom != previous) {
      behind = LocalLength(gaps, previous - kPeriodWindow, tolerance);
      behindFrom = previous;
    }
    const double fromAfter = std::fabs(lastPeriod - after);
    const bool changed =
        fromAfter < kSameLength * after && fromAfter < std::fabs(lastPeriod - behind);
    return changed ? after : behind;
  };
  for (int64_t k = 1; k < count; ++k) {
    double after = LocalLength(gaps, k - 1, tolerance);
    const double longest = lengthBefore(after) * (1.0 + kSameLength);
    if (after > longest && KeepsLengthThroughMisses(gaps, k - 1, lengthBefore(after), tolerance)) {
      after = lengthBefore(after);
    }
    if (k >= 2 && previous < k - 1 && gridBeat[k - 1] == kUnmatched) {
      // The span from the previous matched beat may cross a tempo change:
      // it reaches whole beats only when the length before the change
      // takes its part, and then that beat was no extra one.
      const Phase between = PhaseOf(gaps[k - 1], after, after, weights);
      const Phase reach = PhaseOf(listed[k].seconds - listed[previous].seconds, lengthBefore(after),
                                  after, weights);
      if (between.miss <= kLargestPhaseMiss && reach.miss > kLargestPhaseMiss) {
        Reanchor(listed, after, previous, k - 1, gridBeat);
      }
    }
    const double before = lengthBefore(after);
    const StepsSaid said = reversed ? NumbersSay(listed, previous, k, true)
                                    : FinishesMeasure(listed, gridBeat, previous, k);
    const Phase best =
        PhaseOf(listed[k].seconds - listed[previous].seconds, before, after, weights, said);
    if (best.steps < 1 || best.miss > kLargestPhaseMiss) continue;
    if (k + 1 < count &&
        NextFitsBetter(listed, previous, k, best, before, after, weights,
                       NumbersOfBoth{said, NumbersSay(listed, previous, k + 1, reversed)})) {
      continue;
    }
    gridBeat[k] = gridBeat[previous] + best.steps;
    lastPeriod = (listed[k].seconds - listed[previous].seconds) / static_cast<double>(best.steps);
    previous = k;
  }
  return gridBeat;
}

// How far a beat lies from the line through `points`; infinite with too
// few of them.
double MissFromLine(const std::vector<Matched>& points, const Matched& beat, int64_t fewest) {
  if (static_cast<int64_t>(points.size()) < fewest) return kInfinity;
  const Matched& origin = points.front();
  double sx = 0;
  double st = 0;
  double sxx = 0;
  double sxt = 0;
  for (const Matched& point : points) {
    const auto x = static_cast<double>(point.beat - origin.beat);
    const double t = point.seconds - origin.seconds;
    sx += x;
    st += t;
    sxx += x * x;
    sxt += x * t;
  }
  const auto n = static_cast<double>(points.size());
  const double spread = n * sxx - sx * sx;
  if (!(spread > 0.0)) return kInfinity;
  const double slope = (n * sxt - sx * st) / spread;
  const double intercept = (st - slope * sx) / n;
  const auto x = static_cast<double>(beat.beat - origin.beat);
  return std::fabs(beat.seconds - origin.seconds - (intercept + slope * x));
}

// The pool's beats in [from, to) and [from2, to2), clamped to the pool, into
// `points`: one list for every beat judged, not a new one each time.
const std::vector<Matched>& Neighbours(const std::vector<Matched>& pool, int64_t from, int64_t to,
                                       int64_t from2, int64_t to2, std::vector<Matched>& points) {
  points.clear();
  const auto size = static_cast<int64_t>(pool.size());
  for (int64_t k = std::max<int64_t>(from, 0); k < std::min(to, size); ++k) {
    points.push_back(pool[k]);
  }
  for (int64_t k = std::max<int64_t>(from2, 0); k < std::min(to2, size); ++k) {
    points.push_back(pool[k]);
  }
  return points;
}

// The beats off every line through their neighbours, the neighbours taken
// without the `doubted` beats.
std::vector<bool> JudgeStrays(const std::vector<Matched>& matched, const std::vector<bool>& doubted,
                              double tolerance) {
  std::vector<Matched> pool;
  std::vector<int64_t> place;  // per matched beat: where it stands (or would) in the pool
  for (size_t k = 0; k < matched.size(); ++k) {
    place.push_back(static_cast<int64_t>(pool.size()));
    if (!doubted[k]) pool.push_back(matched[k]);
  }
  std::vector<bool> stray(matched.size(), false);
  std::vector<Matched> points;
  for (size_t k = 0; k < matched.size(); ++k) {
    const int64_t at = place[k];
    const int64_t after = doubted[k] ? at : at + 1;
    const double misses[] = {
        MissFromLine(Neighbours(pool, at - kNeighbours, at, 0, 0, points), matched[k],
                     kNeighbours - 1),
        MissFromLine(Neighbours(pool, after, after + kNeighbours, 0, 0, points), matched[k],
                     kNeighbours - 1),
        MissFromLine(Neighbours(pool, at - 1, at, after, after + 1, points), matched[k], 2)};
    const double miss = *std::min_element(std::begin(misses), std::end(misses));
    stray[k] = miss != kInfinity && miss > tolerance;
  }
  return stray;
}

// A beat that neither the beats before it, nor those after it, nor those on
// both sides place within the tolerance is a stray: no section can hold it.
// One side alone follows a tempo change, the beats just before and after it
// a tempo that slows down or speeds up. Judged twice, the second time
// against neighbours without the strays the first found. A third time would
// hold a few more beats of a tapped list, but on a tracker's beats at a
// tempo change it holds beats only a section more can keep.
std::vector<bool> FindStrays(const std::vector<Matched>& matched, double tolerance) {
  const std::vector<bool> none(matched.size(), false);
  return JudgeStrays(matched, JudgeStrays(matched, none, tolerance), tolerance);
}

// Bar lines from the beats' numbers: a beat numbered b begins its measure
// b - 1 beats before it. A number that would put a bar line back in time is
// passed over. Beats before the first bar line make a shorter first measure.
// A bar line with the highest beat number listed in the measure it begins.
struct Bar {
  int64_t beat;
  int32_t highest;
};

// Whether the gap after bar `k` holds whole measures of `meter`, and its
// listed numbers fit in one of them.
bool HoldsMeasuresOf(const std::vector<Bar>& bars, size_t k, int64_t meter) {
  const int64_t gap = bars[k + 1].beat - bars[k].beat;
  return meter > 0 && gap % meter == 0 && bars[k].highest <= meter;
}

// Whether the gap after bar `k` holds one measure of `before`, its listed
// numbers in it, and then whole measures of `after`.
bool ChangesMeterInGap(const std::vector<Bar>& bars, size_t k, int64_t before, int64_t after) {
  const int64_t rest = bars[k + 1].beat - bars[k].beat - before;
  return before > 0 && after > 0 && bars[k].highest <= before && rest > 0 && rest % after == 0;
}

// Measures whose beats were all missed leave a gap between two bar lines
// that holds whole measures of the meter after it or, failing that, of the
// meter before it: they are put back. The meter after comes first: where
// the meter changes, the new one begins at the gap as often as not, and a
// gap of just one of its measures is that measure, not two of the old one.
// Failing both, the gap may hold one measure of the meter before, whose
// numbers it has, and then whole measures of the meter after: the meter
// changed in the measures missed. One measure of a meter of its own would
// take a section more.
std::vector<int64_t> RestoreMissedMeasures(const std::vector<Bar>& bars) {
  std::vector<int64_t> restored;
  for (size_t k = 0; k < bars.size(); ++k) {
    restored.push_back(bars[k].beat);
    if (k == 0 || k + 1 == bars.size()) continue;
    const int64_t after = k + 2 < bars.size() ? bars[k + 2].beat - bars[k + 1].beat : 0;
    const int64_t before = bars[k].beat - bars[k - 1].beat;
    int64_t first = HoldsMeasuresOf(bars, k, after) ? after : before;
    int64_t meter = first;
    if (!HoldsMeasuresOf(bars, k, meter)) {
      if (!ChangesMeterInGap(bars, k, before, after)) continue;
      first = before;
      meter = after;
    }
    for (int64_t bar = bars[k].beat + first; bar < bars[k + 1].beat; bar += meter) {
      restored.push_back(bar);
    }
  }
  return restored;
}

std::vector<int64_t> BarsFromNumbers(const Fit& fit) {
  std::vector<Bar> bars;
  int64_t lastNumbered = kUnmatched;
  for (const Matched& beat : fit.kept) {
    const int32_t number = fit.listed[beat.listed].beatInMeasure;
    if (number < 1) continue;
    const int64_t bar = beat.beat - (number - 1);
    if (bars.empty() || (bar > bars.back().beat && bar > lastNumbered)) {
      bars.push_back(Bar{bar, 0});
    } else if (bar != bars.back().beat) {
      continue;
    }
    lastNumbered = beat.beat;
    bars.back().highest = std::max(bars.back().highest, number);
  }
  const int64_t first = fit.kept.front().beat;
  if (bars.front().beat < first) bars.front().beat = first;
  if (bars.front().beat > first) bars.insert(bars.begin(), Bar{first, 0});
  const int64_t last = fit.kept.back().beat;
  int64_t length = std::max<int64_t>(last - bars.back().beat + 1, bars.back().highest);
  if (bars.size() >= 2) length = std::max(length, bars.back().beat - bars[bars.size() - 2].beat);
  bars.push_back(Bar{bars.back().beat + length, 0});
  return RestoreMissedMeasures(bars);
}

// Bar lines every `meter` beats from the listed beat nearest the downbeat
// (the first without one).
std::vector<int64_t> BarsFromMeter(const Fit& fit) {
  int64_t start = fit.kept.front().beat;
  if (fit.options.downbeatGiven) {
    double nearest = kInfinity;
    for (const Matched& beat : fit.kept) {
      const double distance = std::fabs(beat.seconds - fit.options.downbeatSeconds);
      if (distance < nearest) {
        nearest = distance;
        start = beat.beat;
      }
    }
  }
  std::vector<int64_t> bars;
  const int64_t meter = std::max(fit.options.meter, 1);
  for (int64_t bar = start; bar <= fit.kept.back().beat + meter; bar += meter) {
    bars.push_back(bar);
    if (bar > fit.kept.back().beat) break;
  }
  return bars;
}

bool HasBeatNumbers(const Fit& fit) {
  return std::any_of(fit.kept.begin(), fit.kept.end(), [&fit](const Matched& beat) {
    return fit.listed[beat.listed].beatInMeasure > 0;
  });
}

// The kept beats from measure 1 on; the bars' first kept beats.
void PlaceBars(Fit& fit) {
  fit.bars = HasBeatNumbers(fit) ? BarsFromNumbers(fit) : BarsFromMeter(fit);
  const int64_t first = fit.bars.front();
  std::vector<Matched> kept;
  for (Matched beat : fit.kept) {
    if (beat.beat < first) continue;
    beat.beat -= first;
    kept.push_back(beat);
  }
  fit.kept = kept;
  std::transform(fit.bars.begin(), fit.bars.end(), fit.bars.begin(),
                 [first](int64_t bar) { return bar - first; });
  fit.dropped.assign(fit.kept.size(), false);
  fit.firstOf.clear();
  size_t k = 0;
  for (const int64_t bar : fit.bars) {
    while (k < fit.kept.size() && fit.kept[k].beat < bar) ++k;
    fit.firstOf.push_back(k);
  }
}

int32_t MeasureCount(const Fit& fit) {
  return static_cast<int32_t>(fit.bars.size()) - 1;
}

// The tempo nearest `target` whose beat length lies in [lo, hi]: a
// single-precision tempo, or a whole multiple of the tempo step.
bool PickTempo(double lo, double hi, double target, double step, Tempo& tempo) {
  lo = std::max(lo, 1e-9);
  if (!(lo <= hi)) return false;
  const double aim = std::clamp(target, lo, hi);
  const auto fits = [lo, hi](float bpm) {
    const double period = StepLength(bpm, 1);
    return std::isfinite(bpm) && bpm > 0.0f && period >= lo && period <= hi;
  };
  float candidates[3];
  if (step > 0.0) {
    const double lowest = std::max(1.0, std::ceil(kSecondsPerMinute / hi / step));
    const double highest = std::floor(kSecondsPerMinute / lo / step);
    if (!(lowest <= highest) || !(highest < 0x1p40)) return false;
    const double whole = std::clamp(std::round(kSecondsPerMinute / aim / step), lowest, highest);
    candidates[0] = static_cast<float>(whole * step);
    candidates[1] = static_cast<float>(std::max(lowest, whole - 1.0) * step);
    candidates[2] = static_cast<float>(std::min(highest, whole + 1.0) * step);
  } else {
    const auto nearest = static_cast<float>(kSecondsPerMinute / aim);
    candidates[0] = nearest;
    candidates[1] = std::nextafter(nearest, 0.0f);
    candidates[2] = std::nextafter(nearest, std::numeric_limits<float>::infinity());
  }
  bool found = false;
  for (const float bpm : candidates) {
    if (!fits(bpm)) continue;
    const double period = StepLength(bpm, 1);
    if (!found || std::fabs(period - aim) < std::fabs(tempo.period - aim)) {
      tempo = Tempo{bpm, period};
      found = true;
    }
  }
  return found;
}

bool PickCorridorTempo(const Fit& fit, const Corridor& corridor, Tempo& tempo) {
  const double target = corridor.sxx > 0.0 ? corridor.sxu / corridor.sxx : fit.typicalPeriod;
  return PickTempo(corridor.lo, corridor.hi, target, fit.options.tempoStep, tempo);
}

// The corridor with one more beat, `beats` after the section's start and
// `seconds` after its start time.
Corridor Narrow(Corridor corridor, double beats, double seconds, double tolerance) {
  if (beats == 0.0) {
    if (std::fabs(seconds) > tolerance) corridor.lo = kInfinity;
    return corridor;
  }
  corridor.lo = std::max(corridor.lo, (seconds - tolerance) / beats);
  corridor.hi = std::min(corridor.hi, (seconds + tolerance) / beats);
  corridor.sxx += beats * beats;
  corridor.sxu += beats * seconds;
  return corridor;
}

// The corridor of a section that ends at bar `bar`, narrowed by the beat
// listed there, which begins the next section: a tempo from it puts the
// next section's start within the tolerance of that beat. `closes` says
// whether one does.
struct Closing {
  Corridor corridor;
  bool closes;
};

bool BeatOnBar(const Fit& fit, int32_t bar, size_t& k);
Corridor NarrowBy(const Fit& fit, const Corridor& corridor, size_t k, int32_t first, double start);

Closing CloseAt(const Fit& fit, const Corridor& open, int32_t first, int32_t bar, double start) {
  size_t k = 0;
  if (!BeatOnBar(fit, bar, k)) return Closing{open, true};
  const Corridor closed = NarrowBy(fit, open, k, first, start);
  Tempo tempo{};
  return PickCorridorTempo(fit, closed, tempo) ? Closing{closed, true} : Closing{open, false};
}

// The kept beat listed on bar `bar`, if any.
bool BeatOnBar(const Fit& fit, int32_t bar, size_t& k) {
  if (bar >= static_cast<int32_t>(fit.bars.size())) return false;
  k = fit.firstOf[bar];
  return k < fit.kept.size() && fit.kept[k].beat == fit.bars[bar] && !fit.dropped[k];
}

Corridor NarrowBy(const Fit& fit, const Corridor& corridor, size_t k, int32_t first, double start) {
  const Matched& beat = fit.kept[k];
  return Narrow(corridor, static_cast<double>(beat.beat - fit.bars[first]), beat.seconds - start,
                fit.tolerance);
}

// The corridor of the section's first measure. Its first beat and the beat
// on the next bar line come first, so that the section can end there with
// the next one in step; a beat between them that no tempo then holds is
// left out. `closed` says whether the next bar's beat was taken.
Corridor FirstMeasure(const Fit& fit, int32_t first, double start, std::vector<size_t>& left,
                      bool& closed) {
  Corridor corridor{0.0, kInfinity, 0.0, 0.0};
  Tempo tempo{};
  std::vector<size_t> order;
  size_t k = 0;
  if (BeatOnBar(fit, first, k)) order.push_back(k);
  closed = BeatOnBar(fit, first + 1, k);
  const size_t closing = k;
  if (closed) order.push_back(closing);
  for (k = fit.firstOf[first]; k < fit.firstOf[first + 1]; ++k) {
    if (!fit.dropped[k] && (order.empty() || k != order.front())) order.push_back(k);
  }
  for (const size_t beat : order) {
    const Corridor narrowed = NarrowBy(fit, corridor, beat, first, start);
    if (PickCorridorTempo(fit, narrowed, tempo)) {
      corridor = narrowed;
    } else if (closed && beat == closing) {
      closed = false;
    } else {
      left.push_back(beat);
    }
  }
  return corridor;
}

// How far a section beginning at measure `first` at `start` seconds reaches:
// the measures it takes while one tempo keeps every beat within the
// tolerance. Beats of its first measure that no tempo can hold are left out
// (into `left`). `trail` gets, after each measure, the corridor of a
// section that ends there.
int32_t Reach(const Fit& fit, int32_t first, double start, std::vector<Closing>& trail,
              std::vector<size_t>& left) {
  trail.clear();
  left.clear();
  bool closed = false;
  Corridor corridor = FirstMeasure(fit, first, start, left, closed);
  trail.push_back(closed ? Closing{corridor, true}
                         : CloseAt(fit, corridor, first, first + 1, start));
  Tempo tempo{};
  const int32_t measures = MeasureCount(fit);
  for (int32_t measure = first + 1; measure < measures; ++measure) {
    Corridor next = corridor;
    for (size_t k = fit.firstOf[measure]; k < fit.firstOf[measure + 1]; ++k) {
      if (fit.dropped[k] || (closed && k == fit.firstOf[first + 1])) continue;
      const Corridor narrowed = NarrowBy(fit, next, k, first, start);
      if (!PickCorridorTempo(fit, narrowed, tempo)) return measure;
      next = narrowed;
    }
    closed = false;
    corridor = next;
    trail.push_back(CloseAt(fit, corridor, first, measure + 1, start));
  }
  return measures;
}

int64_t BeatsBetween(const Fit& fit, int32_t first, int32_t end) {
  return fit.bars[end] - fit.bars[first];
}

double SquaredError(const Fit& fit, int32_t first, int32_t end, double start, const Tempo& tempo) {
  double sum = 0.0;
  for (size_t k = fit.firstOf[first]; k < fit.firstOf[end]; ++k) {
    if (fit.dropped[k]) continue;
    const double miss = fit.kept[k].seconds - start -
                        static_cast<double>(fit.kept[k].beat - fit.bars[first]) * tempo.period;
    sum += miss * miss;
  }
  return sum;
}

double ClockAfter(double clock, const Tempo& tempo, int64_t beats) {
  return AdvanceClock(clock, tempo.period, static_cast<Wide>(beats));
}

// How good ending a section at `end` is: fewer beats left out by the next
// section, then a next section that reaches further, then fewer sections
// in the map up to there (a meter change inside a section cuts it in two),
// then no next section at all, then less error.
struct Ending {
  size_t left;
  int32_t reach;
  int32_t sections;
  bool last;
  double squaredError;
};

bool IsBetter(const Ending& a, const Ending& b) {
  if (a.left != b.left) return a.left < b.left;
  if (a.reach != b.reach) return a.reach > b.reach;
  if (a.sections != b.sections) return a.sections < b.sections;
  if (a.last != b.last) return a.last;
  return a.squaredError < b.squaredError;
}

int64_t MeterOf(const Fit& fit, int32_t measure) {
  return fit.bars[measure + 1] - fit.bars[measure];
}

// The sections that measures [first, end) of one tempo take: one more at
// every meter change.
int32_t SectionsOfSpan(const Fit& fit, int32_t first, int32_t end) {
  int32_t sections = end > first ? 1 : 0;
  for (int32_t measure = first + 1; measure < end; ++measure) {
    if (MeterOf(fit, measure) != MeterOf(fit, measure - 1)) ++sections;
  }
  return sections;
}

Ending JudgeEnding(const Fit& fit, const Segment& segment, const Tempo& tempo, double start) {
  std::vector<Closing> trail;
  std::vector<size_t> left;
  const int32_t end = segment.endMeasure;
  const double clock =
      ClockAfter(segment.startClock, tempo, BeatsBetween(fit, segment.firstMeasure, end));
  Ending ending{0, end, SectionsOfSpan(fit, segment.firstMeasure, end), end == MeasureCount(fit),
                SquaredError(fit, segment.firstMeasure, end, start, tempo)};
  if (end == MeasureCount(fit)) return ending;
  const double nextStart = fit.offset + clock;
  ending.reach = Reach(fit, end, nextStart, trail, left);
  ending.left = left.size();
  ending.sections += SectionsOfSpan(fit, end, ending.reach);
  Tempo next{};
  if (PickCorridorTempo(fit, trail.back().corridor, next)) {
    ending.squaredError += SquaredError(fit, end, ending.reach, nextStart, next);
  }
  return ending;
}

// The first end, counted back from `reach`, where the section can close on
// the next section's first beat; `first` + 1 when none can.
int32_t LatestClosing(const std::vector<Closing>& trail, int32_t first, int32_t reach) {
  for (int32_t end = reach; end > first + 1; --end) {
    if (trail[end - 1 - first].closes) return end;
  }
  return first + 1;
}

// The section from `first`, ending where the next one does best, up to
// kBackOff measures before the latest end it can close at.
Segment NextSegment(Fit& fit, int32_t first, double clock) {
  std::vector<Closing> trail;
  std::vector<size_t> left;
  const double start = fit.offset + clock;
  const int32_t reach = Reach(fit, first, start, trail, left);
  for (const size_t k : left) fit.dropped[k] = true;
  const int32_t latest = LatestClosing(trail, first, reach);
  Segment best{first, latest, Tempo{}, clock};
  Ending bestEnding{};
  bool found = false;
  for (int32_t end = std::max(first + 1, latest - kBackOff); end <= latest; ++end) {
    const Closing& closing = trail[end - 1 - first];
    Tempo tempo{};
    if ((!closing.closes && end != first + 1) || !PickCorridorTempo(fit, closing.corridor, tempo)) {
      continue;
    }
    const Segment candidate{first, end, tempo, clock};
    const Ending ending = JudgeEnding(fit, candidate, tempo, start);
    if (!found || IsBetter(ending, bestEnding)) {
      best = candidate;
      bestEnding = ending;
      found = true;
    }
  }
  return best;
}

// Least squares over the first measures reached: where measure 1 begins,
// for the tempo rounded as the map will hold it.
bool RefineStart(const Fit& fit, int32_t end, double& start) {
  double sx = 0;
  double st = 0;
  double sxx = 0;
  double sxt = 0;
  double n = 0;
  const double origin = fit.kept.front().seconds;
  for (size_t k = 0; k < fit.firstOf[end]; ++k) {
    const auto x = static_cast<double>(fit.kept[k].beat);
    const double t = fit.kept[k].seconds - origin;
    sx += x;
    st += t;
    sxx += x * x;
    sxt += x * t;
    n += 1;
  }
  const double spread = n * sxx - sx * sx;
  if (!(spread > 0.0)) return false;
  Tempo tempo{};
  if (!PickTempo(0.0, kInfinity, (n * sxt - sx * st) / spread, fit.options.tempoStep, tempo)) {
    return false;
  }
  const double refined = origin + (st - tempo.period * sx) / n;
  for (size_t k = 0; k < fit.firstOf[end]; ++k) {
    const double miss =
        fit.kept[k].seconds - refined - static_cast<double>(fit.kept[k].beat) * tempo.period;
    if (std::fabs(miss) > fit.tolerance) return false;
  }
  start = refined;
  return true;
}

// Measure 1 at the first kept beat, then moved to where the first section's
// beats put it, while they still fit.
void PlaceMeasureOne(Fit& fit) {
  fit.offset = fit.kept.front().seconds;
  std::vector<Closing> trail;
  std::vector<size_t> left;
  for (int round = 0; round < 3; ++round) {
    const int32_t end = Reach(fit, 0, fit.offset, trail, left);
    if (!RefineStart(fit, end, fit.offset)) return;
  }
}

// Every kept beat's distance from the line of its section, through `visit`.
template <typename Visit>
void ForEachMiss(const Fit& fit, Visit visit) {
  size_t k = 0;
  for (const Segment& segment : fit.segments) {
    for (; k < fit.firstOf[segment.endMeasure]; ++k) {
      if (fit.dropped[k]) continue;
      const double x = static_cast<double>(fit.kept[k].beat - fit.bars[segment.firstMeasure]);
      visit(fit.kept[k].seconds - fit.offset - segment.startClock - x * segment.tempo.period);
    }
  }
}

// Solves a symmetric tridiagonal system in place: `diagonal` and `right`
// are overwritten, the solution left in `right`.
void SolveTridiagonal(std::vector<double>& diagonal, const std::vector<double>& beside,
                      std::vector<double>& right) {
  const size_t count = diagonal.size();
  for (size_t k = 1; k < count; ++k) {
    const double factor = beside[k - 1] / diagonal[k - 1];
    diagonal[k] -= factor * beside[k - 1];
    right[k] -= factor * right[k - 1];
  }
  right[count - 1] /= diagonal[count - 1];
  for (size_t k = count - 1; k > 0; --k) {
    right[k - 1] = (right[k - 1] - beside[k - 1] * right[k]) / diagonal[k - 1];
  }
}

// The times where the sections meet, fitted to every kept beat at once by
// least squares: a beat lies on the line between the two ends of its
// section, so each end is tied to its neighbours only. Measure 1 and each
// tempo follow from them, tied together by the whole list rather than by
// the first section alone.
std::vector<double> FitSectionEnds(const Fit& fit, double origin) {
  const size_t ends = fit.segments.size() + 1;
  std::vector<double> diagonal(ends, 1e-12);
  std::vector<double> beside(ends - 1, 0.0);
  std::vector<double> right(ends, 0.0);
  size_t k = 0;
  for (size_t s = 0; s < fit.segments.size(); ++s) {
    const Segment& segment = fit.segments[s];
    const auto length =
        static_cast<double>(BeatsBetween(fit, segment.firstMeasure, segment.endMeasure));
    for (; k < fit.firstOf[segment.endMeasure]; ++k) {
      if (fit.dropped[k]) continue;
      const double u =
          static_cast<double>(fit.kept[k].beat - fit.bars[segment.firstMeasure]) / length;
      const double t = fit.kept[k].seconds - origin;
      diagonal[s] += (1 - u) * (1 - u);
      diagonal[s + 1] += u * u;
      beside[s] += (1 - u) * u;
      right[s] += (1 - u) * t;
      right[s + 1] += u * t;
    }
  }
  SolveTridiagonal(diagonal, beside, right);
  std::transform(right.begin(), right.end(), right.begin(),
                 [origin](double end) { return end + origin; });
  return right;
}

// The sections' tempos and measure 1 from the fit of every beat at once,
// rounded as the map holds them and chained by the clock, where every kept
// beat then still lies within the tolerance.
void RefitAtOnce(Fit& fit) {
  if (fit.kept.empty()) return;
  const std::vector<double> ends = FitSectionEnds(fit, fit.kept.front().seconds);
  Fit trial = fit;
  trial.offset = ends[0];
  double clock = 0.0;
  for (size_t s = 0; s < trial.segments.size(); ++s) {
    Segment& segment = trial.segments[s];
    const int64_t beats = BeatsBetween(trial, segment.firstMeasure, segment.endMeasure);
    const double period = (ends[s + 1] - ends[s]) / static_cast<double>(beats);
    if (!PickTempo(0.0, kInfinity, period, fit.options.tempoStep, segment.tempo)) return;
    segment.startClock = clock;
    clock = ClockAfter(clock, segment.tempo, beats);
  }
  bool holds = true;
  ForEachMiss(trial, [&](double miss) { holds = holds && std::fabs(miss) <= fit.tolerance; });
  if (holds) {
    fit.offset = trial.offset;
    fit.segments = trial.segments;
  }
}

void FindSegments(Fit& fit) {
  PlaceMeasureOne(fit);
  fit.segments.clear();
  double clock = 0.0;
  for (int32_t first = 0; first < MeasureCount(fit);) {
    const Segment segment = NextSegment(fit, first, clock);
    fit.segments.push_back(segment);
    clock = ClockAfter(clock, segment.tempo, BeatsBetween(fit, first, segment.endMeasure));
    first = segment.endMeasure;
  }
  RefitAtOnce(fit);
}

// Sections: each segment cut where the meter changes.
std::vector<FittedSection> SectionsOf(const Fit& fit) {
  std::vector<FittedSection> sections;
  for (const Segment& segment : fit.segments) {
    for (int32_t measure = segment.firstMeasure; measure < segment.endMeasure; ++measure) {
      const auto meter = static_cast<int32_t>(fit.bars[measure + 1] - fit.bars[measure]);
      if (measure == segment.firstMeasure || sections.back().beatsPerMeasure != meter) {
        sections.push_back(FittedSection{segment.tempo.bpm, meter, 0, measure, 0.0, 0});
      }
      ++sections.back().measures;
    }
  }
  return sections;
}

struct SectionClock {
  int64_t firstBeat;
  double clock;
  Tempo tempo;
};

std::vector<SectionClock> ClocksOf(const Fit& fit) {
  std::vector<SectionClock> clocks;
  std::transform(
      fit.segments.begin(), fit.segments.end(), std::back_inserter(clocks),
      [&fit](const Segment& segment) {
        return SectionClock{fit.bars[segment.firstMeasure], segment.startClock, segment.tempo};
      });
  return clocks;
}

// The section whose beats hold grid beat `beat`.
const SectionClock& SectionHolding(const std::vector<SectionClock>& clocks, int64_t beat) {
  const auto after = std::upper_bound(
      clocks.begin(), clocks.end(), beat,
      [](int64_t value, const SectionClock& section) { return value < section.firstBeat; });
  return after == clocks.begin() ? clocks.front() : *(after - 1);
}

void PlaceOnGridBeat(const Fit& fit, const std::vector<SectionClock>& clocks, int64_t gridBeat,
                     FittedBeat& beat) {
  const SectionClock& section = SectionHolding(clocks, gridBeat);
  beat.gridBeat = gridBeat;
  beat.gridSeconds =
      fit.offset + ClockAfter(section.clock, section.tempo, gridBeat - section.firstBeat);
  beat.errorMs = (beat.seconds - beat.gridSeconds) * 1000.0;
}

// A beat left out lies nearest the grid beat its time falls on, by the clock
// of the section whose time it falls in.
int64_t NearestGridBeat(const Fit& fit, const std::vector<SectionClock>& clocks, double seconds) {
  size_t k = 0;
  while (k + 1 < clocks.size() && fit.offset + clocks[k + 1].clock <= seconds) ++k;
  const SectionClock& section = clocks[k];
  const double beats = (seconds - fit.offset - section.clock) / section.tempo.period;
  int64_t x = beats > 0.0 && beats < 0x1p52 ? std::llround(beats) : 0;
  if (k + 1 < clocks.size()) x = std::min(x, clocks[k + 1].firstBeat - section.firstBeat);
  return section.firstBeat + x;
}

// The largest error as the Fitted line shows it, to a tenth of a
// millisecond: of equal ones, the first.
void NoteError(double errorMs, int32_t line, double& largest, int32_t& largestLine) {
  const double shown = std::round(std::fabs(errorMs) * 10.0);
  if (largestLine == 0 || shown > std::round(largest * 10.0)) {
    largest = std::fabs(errorMs);
    largestLine = line;
  }
}

// Every listed beat on the grid the map's clock gives; a kept beat that the
// clock puts past the tolerance after all is left out.
void MeasureErrors(const Fit& fit, FittedMap& fitted) {
  const std::vector<SectionClock> clocks = ClocksOf(fit);
  fitted.beats.clear();
  for (const ListedBeat& listed : fit.listed) {
    FittedBeat beat{listed.seconds, 0, 0.0, 0.0, true, listed.line};
    PlaceOnGridBeat(fit, clocks, NearestGridBeat(fit, clocks, listed.seconds), beat);
    fitted.beats.push_back(beat);
  }
  int64_t keptCount = 0;
  int64_t lastKept = 0;
  size_t section = 0;
  for (size_t k = 0; k < fit.kept.size(); ++k) {
    if (fit.dropped[k]) continue;
    FittedBeat& beat = fitted.beats[fit.kept[k].listed];
    PlaceOnGridBeat(fit, clocks, fit.kept[k].beat, beat);
    if (std::fabs(beat.errorMs) > fit.options.toleranceMs) continue;
    beat.leftOut = false;
    ++keptCount;
    lastKept = beat.gridBeat;
    while (section + 1 < fitted.sections.size() &&
           fit.bars[fitted.sections[section + 1].firstMeasure] <= beat.gridBeat) {
      ++section;
    }
    FittedSection& holder = fitted.sections[section];
    NoteError(beat.errorMs, beat.line, holder.largestErrorMs, holder.largestErrorLine);
    NoteError(beat.errorMs, beat.line, fitted.largestErrorMs, fitted.largestErrorLine);
  }
  fitted.leftOut = static_cast<int64_t>(fit.listed.size()) - keptCount;
  fitted.missing = keptCount > 0 ? lastKept + 1 - keptCount : 0;
}

bool CheckSpan(const Fit& fit, Failure& failure) {
  const int64_t span = fit.kept.back().beat - fit.kept.front().beat;
  const int64_t most =
      std::min(kMostGridBeats, static_cast<int64_t>(fit.kept.size()) * kMostGridBeatsPerListed);
  if (span <= most) return true;
  SetFailure(failure,
             "Error: The beats leave gaps of more than %lli missing beats; nothing to fit!\n",
             static_cast<long long>(kMostGridBeatsPerListed));
  return false;
}

// Everything of the fit but the count of sections.
// The list matched from its end back: a beat just after a tempo change is
// then placed by the length that follows it, which the forward matching
// learns only a few beats late.
std::vector<int64_t> MatchGridBeatsBackward(const std::vector<ListedBeat>& beats,
                                            double tolerance) {
  std::vector<ListedBeat> reversed(beats.rbegin(), beats.rend());
  for (ListedBeat& beat : reversed) beat.seconds = -beat.seconds;
  const std::vector<int64_t> backward = MatchGridBeats(reversed, tolerance, true);
  std::vector<int64_t> gridBeat(beats.size(), kUnmatched);
  for (size_t k = 0; k < beats.size(); ++k) {
    const int64_t matched = backward[beats.size() - 1 - k];
    if (matched != kUnmatched) gridBeat[k] = -matched;
  }
  return gridBeat;
}

bool FitAtTolerance(const std::vector<ListedBeat>& beats, const FitOptions& options, bool backward,
                    FittedMap& fitted, Failure& failure) {
  Fit fit{beats, options, options.toleranceMs / 1000.0, 0.0, {}, {}, {}, {}, 0.0, {}};
  std::vector<double> gaps;
  for (size_t k = 1; k < beats.size(); ++k) gaps.push_back(beats[k].seconds - beats[k - 1].seconds);
  fit.typicalPeriod = MedianOf(gaps);
  const std::vector<int64_t> gridBeat = backward ? MatchGridBeatsBackward(beats, fit.tolerance)
                                                 : MatchGridBeats(beats, fit.tolerance, false);
  std::vector<Matched> matched;
  for (size_t k = 0; k < beats.size(); ++k) {
    if (gridBeat[k] != kUnmatched) matched.push_back(Matched{gridBeat[k], beats[k].seconds, k});
  }
  const std::vector<bool> stray = FindStrays(matched, fit.tolerance);
  for (size_t k = 0; k < matched.size(); ++k) {
    if (!stray[k]) fit.kept.push_back(matched[k]);
  }
  if (fit.kept.empty()) fit.kept.push_back(matched.front());
  if (!CheckSpan(fit, failure)) return false;
  PlaceBars(fit);
  FindSegments(fit);
  fitted = FittedMap{fit.offset, SectionsOf(fit), {}, 0, 0, 0.0, 0};
  MeasureErrors(fit, fitted);
  return true;
}

double SquaredError(const FittedMap& fitted) {
  return std::accumulate(fitted.beats.begin(), fitted.beats.end(), 0.0,
                         [](double sum, const FittedBeat& beat) {
                           return beat.leftOut ? sum : sum + beat.errorMs * beat.errorMs;
                         });
}

// Of the fits with the list matched forward and backward, the one that keeps
// more beats, then has fewer sections, then less squared error.
bool FitBothWays(const std::vector<ListedBeat>& beats, const FitOptions& options, FittedMap& fitted,
                 Failure& failure) {
  FittedMap backward;
  Failure backwardFailure{};
  const bool forwardFits = FitAtTolerance(beats, options, false, fitted, failure);
  if (!FitAtTolerance(beats, options, true, backward, backwardFailure)) return forwardFits;
  const bool better =
      !forwardFits || backward.leftOut < fitted.leftOut ||
      (backward.leftOut == fitted.leftOut && (backward.sections.size() < fitted.sections.size() ||
                                              (backward.sections.size() == fitted.sections.size() &&
                                               SquaredError(backward) < SquaredError(fitted))));
  if (better) fitted = std::move(backward);
  return true;
}

}  // namespace

FitOptions DefaultFitOptions() {
  return FitOptions{kDefaultToleranceMs, kDefaultMeter, 0.0, false, 0.0};
}

bool FitBeats(const std::vector<ListedBeat>& beats, const FitOptions& options, FittedMap& fitted,
              Failure& failure) {
  if (beats.size() < 2) {
    SetFailure(failure, "Error: A beat list needs two beats or more to be fitted!\n");
    return false;
  }
  if (!FitBothWays(beats, options, fitted, failure)) return false;
  const size_t needed = fitted.sections.size();
  if (needed <= static_cast<size_t>(kMaxReadSections)) return true;
  FitOptions wider = options;
  FittedMap trial;
  while (wider.toleranceMs < kMostToleranceMs) {
    wider.toleranceMs = std::min(std::ceil(wider.toleranceMs * kToleranceGrowth), kMostToleranceMs);
    if (FitBothWays(beats, wider, trial, failure) &&
        trial.sections.size() <= static_cast<size_t>(kMaxReadSections)) {
      SetFailure(failure,
                 "Error: The beats need %zu sections at a tolerance of %g ms; a text map holds "
                 "at most %i (--tolerance=%g would do)!\n",
                 needed, options.toleranceMs, kMaxReadSections, wider.toleranceMs);
      return false;
    }
  }
  SetFailure(failure,
             "Error: The beats need %zu sections at a tolerance of %g ms; a text map holds at "
             "most %i, and no tolerance up to %g ms does!\n",
             needed, options.toleranceMs, kMaxReadSections, kMostToleranceMs);
  return false;
}

void FillTempoMap(const FittedMap& fitted, TempoMap& map) {
  const auto count = static_cast<int32_t>(fitted.sections.size());
  int64_t measures = 0;
  int64_t beats = 0;
  for (int32_t k = 0; k < count; ++k) {
    const FittedSection& section = fitted.sections[k];
    map.tempo[k] = section.tempo;
    map.beatsPerMeasure[k] = section.beatsPerMeasure;
    map.measures[k] = section.measures;
    measures += section.measures;
    beats += int64_t{section.measures} * section.beatsPerMeasure;
  }
  map.sectionCount = count;
  map.totalMeasures = static_cast<int32_t>(measures);
  map.totalBeats = static_cast<int32_t>(beats);
}
