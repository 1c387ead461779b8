// How long a MIDI file takes to read as a tempo map, and its grid to walk:
// a 50 MB file of notes on 16 tracks with 2,000 tempo events, the size a
// long orchestral sequence reaches.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "grid/midi_grid.h"
#include "grid/renderer.h"
#include "maps/midi_map.h"
#include "midi_bytes.h"

namespace {

using namespace midi_bytes;

constexpr size_t kFileBytes = 50000000;
constexpr int kNoteTracks = 15;
constexpr int kTempoEvents = 2000;

// Track 1: 4/4 and a tempo every half note; then 15 tracks of notes whose
// status bytes are running status, to 50 MB in all.
std::string FiftyMegabyteSong() {
  std::string tempoTrack = Meter(0, 4, 2);
  for (int k = 0; k < kTempoEvents; ++k) tempoTrack += Tempo(k == 0 ? 0 : 960, 400000 + 37 * k);
  tempoTrack += EndOfTrack(0);
  std::string song = Header(1, 1 + kNoteTracks, 480) + Track(tempoTrack);
  const size_t perTrack = (kFileBytes - song.size()) / kNoteTracks - 16;
  for (int channel = 0; channel < kNoteTracks; ++channel) {
    std::string pattern;
    for (int k = 0; k < 1000; ++k) {
      const char pitch = static_cast<char>(48 + k % 24);
      pattern += Message(k == 0 ? 0 : 16, k == 0 ? 0x90 | channel : 0, std::string{pitch, 100});
      pattern += Message(16, 0, std::string{pitch, 0});
    }
    std::string notes;
    notes.reserve(perTrack + pattern.size());
    while (notes.size() + pattern.size() <= perTrack) notes += pattern;
    song += Track(notes + EndOfTrack(0));
  }
  return song;
}

// Written once, before any timing, and removed when the benchmark ends.
struct SongFile {
  std::string path;
  SongFile() {
    char pattern[] = "/tmp/beatstamps-midi-bench-XXXXXX";
    const int descriptor = mkstemp(pattern);
    if (descriptor >= 0) close(descriptor);
    std::ofstream(pattern, std::ios::binary) << FiftyMegabyteSong();
    path = pattern;
  }
  ~SongFile() { std::remove(path.c_str()); }
};

const std::string& SongPath() {
  static const SongFile song;
  return song.path;
}

struct Reading {
  MidiReading reading;
  MidiMap map;
};

bool ReadSong(Reading& reading, Failure& failure) {
  FILE* file = std::fopen(SongPath().c_str(), "rb");
  if (file == nullptr) return false;
  const bool read = ReadMidiMap(file, "song.mid", reading.reading, reading.map, failure);
  std::fclose(file);
  return read;
}

// From opening the file to the map, built: what a run spends before its grid.
void BM_ReadFiftyMegabyteMidiFile(benchmark::State& bench) {
  auto reading = std::make_unique_for_overwrite<Reading>();
  Failure failure{};
  SongPath();
  for (auto _ : bench) {
    if (!ReadSong(*reading, failure)) {
      bench.SkipWithError(failure.message.c_str());
      return;
    }
    benchmark::DoNotOptimize(reading->map.sectionCount);
  }
  bench.SetBytesProcessed(static_cast<int64_t>(bench.iterations()) *
                          static_cast<int64_t>(kFileBytes));
  bench.counters["sections"] = reading->map.sectionCount;
  bench.counters["measures"] = reading->map.totalMeasures;
}
BENCHMARK(BM_ReadFiftyMegabyteMidiFile)->Unit(benchmark::kMillisecond);

bool CountPoint(void* context, const GridPoint& point) {
  *static_cast<int64_t*>(context) += point.samplePosition & 1;
  return true;
}

// Every point's exact time: a million points over all 2,000 tempos.
void BM_WalkMillionMidiGridPoints(benchmark::State& bench) {
  auto reading = std::make_unique_for_overwrite<Reading>();
  Failure failure{};
  if (!ReadSong(*reading, failure)) {
    bench.SkipWithError(failure.message.c_str());
    return;
  }
  const GridSettings settings{48000, 250, 0, 999};
  int64_t odd = 0;
  for (auto _ : bench) {
    WalkMidiGrid(reading->map, settings, GridVisitor{&odd, CountPoint, nullptr});
    benchmark::DoNotOptimize(odd);
  }
  bench.SetItemsProcessed(static_cast<int64_t>(bench.iterations()) * 1000000);
}
BENCHMARK(BM_WalkMillionMidiGridPoints)->Unit(benchmark::kMillisecond);

}  // namespace
