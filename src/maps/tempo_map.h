// A tempo map read from text, and the settings a grid is walked with.
#ifndef BEATSTAMPS_TEMPO_MAP_H_
#define BEATSTAMPS_TEMPO_MAP_H_

#include <cstdint>

// Slots in each section table.
constexpr int32_t kMaxSections = 512;
// Sections a map read stores; the last two slots are never filled from a file.
constexpr int32_t kMaxReadSections = 510;

// Three parallel tables: slot k of each together is section k, in time order.
// Slot 0 doubles as the single section used while no map sections exist.
struct TempoMap {
  float tempo[kMaxSections];              // beats per minute
  int32_t beatsPerMeasure[kMaxSections];  // beats in each measure
  int32_t measures[kMaxSections];         // measures in the section
  int32_t sectionCount;                   // sections of the last successful read
  int32_t totalMeasures;                  // measures of the last read
  int32_t totalBeats;                     // beats of the last read (or of the range guard)
};

// The settings a grid is walked with, wherever they come from: the map
// file, the command line or the interactive commands.
struct GridSettings {
  uint32_t sampleRate;
  int32_t divisionsPerBeat;
  int32_t startMeasure;  // 0-based, inclusive
  int32_t stopMeasure;   // 0-based, inclusive
  // The number the map's first measure is shown with: 1, or 0 for a pickup
  // as notation programs count it (--first-measure).
  int32_t firstMeasureNumber = 1;
};

#endif  // BEATSTAMPS_TEMPO_MAP_H_
