// A list of beat times fitted into a text map: the fewest sections of whole
// measures, each of one tempo and one meter, that hold every listed beat it
// can within a tolerance, timed by the running clock the grid itself uses.
#ifndef BEATSTAMPS_BEAT_FIT_H_
#define BEATSTAMPS_BEAT_FIT_H_

#include <cstdint>
#include <vector>

#include "base/failure.h"
#include "maps/beat_list.h"
#include "maps/tempo_map.h"

// The widest tolerance a fit takes, in milliseconds.
constexpr double kMostToleranceMs = 1000.0;

// How a list is fitted: --tolerance, --meter, --tempo-step and --downbeat.
struct FitOptions {
  double toleranceMs;  // a kept beat lies this near its grid beat
  int32_t meter;       // beats per measure of a list without beat numbers
  double tempoStep;    // tempos are whole multiples of it; 0: any single-precision tempo
  bool downbeatGiven;  // measure 1 at the listed beat nearest downbeatSeconds
  double downbeatSeconds;
};

FitOptions DefaultFitOptions();

struct FittedSection {
  float tempo;
  int32_t beatsPerMeasure;
  int32_t measures;
  int32_t firstMeasure;   // 0-based: measure 1 is 0
  double largestErrorMs;  // of its kept beats; 0 when it holds none
  int32_t largestErrorLine;
};

// One listed beat after the fit: what a picture of the fit draws.
struct FittedBeat {
  double seconds;      // as listed
  int64_t gridBeat;    // the grid beat it matched (or lies nearest), 0 at measure 1
  double gridSeconds;  // that grid beat's time, measure 1 at offsetSeconds
  double errorMs;      // seconds - gridSeconds, in milliseconds
  bool leftOut;        // no section holds it within the tolerance
  int32_t line;
};

struct FittedMap {
  double offsetSeconds;  // where measure 1 begins
  std::vector<FittedSection> sections;
  std::vector<FittedBeat> beats;  // every listed beat, in the list's order
  int64_t leftOut;
  int64_t missing;  // grid beats up to the last kept beat with no listed beat
  double largestErrorMs;
  int32_t largestErrorLine;  // 0 when no beat was kept
};

// Fits the beats (times increasing) into sections. False, with one line,
// when there is nothing to fit or the fit needs more sections than a text
// map holds (the line names a tolerance that would do).
bool FitBeats(const std::vector<ListedBeat>& beats, const FitOptions& options, FittedMap& fitted,
              Failure& failure);

// The fitted sections as a text map's tables.
void FillTempoMap(const FittedMap& fitted, TempoMap& map);

#endif  // BEATSTAMPS_BEAT_FIT_H_
