// Beat lists made from known maps, as a tapper or a beat tracker would give
// them: every beat moved by a random error, some missed, some extra.
#ifndef BEATSTAMPS_TESTS_BEAT_LIST_MAKER_H_
#define BEATSTAMPS_TESTS_BEAT_LIST_MAKER_H_

#include <cstdint>
#include <random>
#include <vector>

#include "maps/beat_list.h"

struct TrueSection {
  float tempo;
  int32_t beatsPerMeasure;
  int32_t measures;
};

struct ListNoise {
  double jitterSeconds;  // each time moved by up to this, either way
  double missed;         // the part of the beats left out of the list
  double extra;          // extra beats, as a part of the beats, between grid beats
  bool numbered;         // each beat with its number in its measure
};

struct MadeList {
  std::vector<ListedBeat> beats;
  std::vector<bool> extra;         // per listed beat
  std::vector<int64_t> gridBeat;   // per listed beat: its grid beat from measure 1; -1 if extra
  std::vector<double> trueTimes;   // per grid beat from measure 1, as listed (or missed)
  std::vector<int32_t> measureOf;  // per grid beat: its measure, 0-based
};

// The grid beats of the map, measure 1 at `offset`, timed as the grid's own
// clock times them; the first and last beat are never missed, and an extra
// beat lies at least `extraClearance` seconds from every grid beat.
MadeList MakeBeatList(const std::vector<TrueSection>& sections, double offset,
                      const ListNoise& noise, double extraClearance, std::mt19937& random);

// A map of three to six sections of 16 to 32 measures, each next one of
// another meter at the same tempo or a tempo at least 3 beats per minute
// away; with a pickup,
// a first measure of one to three beats; with `meter` above 0 every section
// (but the pickup) of that meter.
std::vector<TrueSection> RandomMap(std::mt19937& random, bool pickup, int32_t meter);

#endif  // BEATSTAMPS_TESTS_BEAT_LIST_MAKER_H_
