#include "exports/click_track.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "exports/wav_encoder.h"
#include "grid/section_view.h"
#include "grid/shifted_walk.h"

namespace {

constexpr size_t kBytesPerSample = 2;
constexpr double kMostSample = 32767.0;  // the loudest sample either way
// Its byte rate, sample rate times two, is 32 bits.
constexpr uint32_t kMostSampleRate = 0x7FFFFFFF;
constexpr int kClicksPerSecond = 100;  // a click lasts 10 ms
// Samples put out at once.
constexpr size_t kBufferSamples = 4096;
// As many clicks as an export holds grid points.
constexpr int64_t kMostCountInBeats = 16777216;

// A downbeat, a beat and a later division of a beat each sound different.
struct ClickSound {
  double frequency;  // Hz
  double level;      // of full scale
};
constexpr ClickSound kDownbeatSound{1760.0, 0.9};
constexpr ClickSound kBeatSound{1320.0, 0.6};
constexpr ClickSound kDivisionSound{880.0, 0.35};

struct LastPoint {
  bool found;
  int64_t samplePosition;
};

// Where count-in beat `beat` clicks: whole beats back from measure 1, to the
// nearest sample; -1 before the start of the file.
int64_t CountInPosition(const ClickPlan& plan, int64_t beat) {
  const double back = static_cast<double>(plan.countInBeats - beat) * plan.countInBeat;
  if (!(back < 0x1p63)) return -1;
  int64_t position = 0;
  if (__builtin_sub_overflow(plan.gridShift, std::llround(back), &position)) return -1;
  return position < 0 ? -1 : position;
}

// Measure 1 lies at the offset; without one, the count-in comes first and the
// grid follows it.
bool PlaceCountIn(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                  ClickPlan& plan, Failure& failure) {
  const MapSection first = CountInSection(map, settings);
  plan.countInMeter = std::max(first.beatsPerMeasure / first.beatNotes, 0);
  plan.countInBeats = int64_t{placed.countIn} * plan.countInMeter;
  plan.countInBeat = 60.0 / first.beatsPerMinute * static_cast<double>(settings.sampleRate);
  plan.gridShift = placed.offsetSamples;
  if (plan.countInBeats > kMostCountInBeats) {
    SetFailure(
        failure, "Error: The count-in holds %lld clicks; a click track holds at most %lld!\n",
        static_cast<long long>(plan.countInBeats), static_cast<long long>(kMostCountInBeats));
    return false;
  }
  if (placed.offsetGiven || plan.countInBeats == 0) return true;
  const double length = static_cast<double>(plan.countInBeats) * plan.countInBeat;
  if (!(length < 0x1p62)) {
    SetFailure(failure, "Error: The click track would pass the 4 GiB a WAV file holds!\n");
    return false;
  }
  plan.gridShift = std::llround(length);
  return true;
}

// The header counts the bytes after its first eight in 32 bits.
uint64_t MostDataBytes() {
  return 0xFFFFFFFFull - (WavHeaderBytes() - 8);
}

// The samples on their way out, and where the track has got to.
// A click's damped oscillator: its starting level and the factors of its
// recurrence, worked out once for each sound.
struct ClickVoice {
  double level;
  double decay;
  double cosine;
};

struct WavClickWriting {
  ExportSink* sink;
  int64_t clickLength;
  ClickVoice voices[3];  // a downbeat, a beat, a later division
  uint64_t written;      // samples put out, buffered ones included
  bool pending;          // a click waits for the next point, which may cut it short
  GridPoint pendingPoint;
  uint8_t buffer[kBufferSamples * kBytesPerSample];
  size_t buffered;  // samples in the buffer
};

void FlushSamples(WavClickWriting& writing) {
  PutBytes(*writing.sink, writing.buffer, writing.buffered * kBytesPerSample);
  writing.buffered = 0;
}

void PutSample(WavClickWriting& writing, int16_t sample) {
  if (writing.buffered == kBufferSamples) FlushSamples(writing);
  const auto bits = static_cast<uint16_t>(sample);
  uint8_t* at = writing.buffer + writing.buffered * kBytesPerSample;
  at[0] = static_cast<uint8_t>(bits);  // little-endian
  at[1] = static_cast<uint8_t>(bits >> 8);
  ++writing.buffered;
  ++writing.written;
}

void PutSilenceUntil(WavClickWriting& writing, uint64_t position) {
  while (writing.written < position && !writing.sink->failed) {
    if (writing.buffered == kBufferSamples) FlushSamples(writing);
    const size_t count = static_cast<size_t>(
        std::min<uint64_t>(kBufferSamples - writing.buffered, position - writing.written));
    std::memset(writing.buffer + writing.buffered * kBytesPerSample, 0, count * kBytesPerSample);
    writing.buffered += count;
    writing.written += count;
  }
}

int VoiceOf(PointKind kind) {
  switch (kind) {
    case PointKind::kDownbeat:
      return 0;
    case PointKind::kBeat:
      return 1;
    case PointKind::kDivision:
      break;
  }
  return 2;
}

// The value held to +-32767, to the nearest whole, a half away from zero as
// lround has it: cutting the fraction off and looking at it is exact for such
// values, and quicker than the library's calls. The decaying cosine is
// always a number.
int16_t ToSample(double value) {
  double held = value > kMostSample ? kMostSample : value;
  if (held < -kMostSample) held = -kMostSample;
  auto whole = static_cast<int32_t>(held);
  const double fraction = held - static_cast<double>(whole);
  if (fraction >= 0.5) whole += 1;
  if (fraction <= -0.5) whole -= 1;
  return static_cast<int16_t>(whole);
}

// A cosine that decays to a hundredth over a whole click.
ClickVoice VoiceFor(const ClickSound& sound, uint32_t sampleRate, int64_t clickLength) {
  return ClickVoice{sound.level * 32767.0, std::pow(0.01, 1.0 / static_cast<double>(clickLength)),
                    std::cos(2.0 * std::numbers::pi * sound.frequency / sampleRate)};
}

// The click from the recurrence of a damped oscillator: its first sample is
// its full level.
void PutClick(WavClickWriting& writing, const GridPoint& point, int64_t length) {
  const ClickVoice& voice = writing.voices[VoiceOf(point.kind)];
  const double decay = voice.decay;
  const double cosine = voice.cosine;
  double current = voice.level;
  double next = current * decay * cosine;
  for (int64_t k = 0; k < length && !writing.sink->failed; ++k) {
    PutSample(writing, ToSample(current));
    const double following = 2.0 * decay * cosine * next - decay * decay * current;
    current = next;
    next = following;
  }
}

// The waiting click sounds until `end` at the most.
void SoundPendingClick(WavClickWriting& writing, uint64_t end) {
  if (!writing.pending) return;
  const auto start = static_cast<uint64_t>(writing.pendingPoint.samplePosition);
  PutSilenceUntil(writing, start);
  const uint64_t room = end - start;
  const int64_t length = room < static_cast<uint64_t>(writing.clickLength)
                             ? static_cast<int64_t>(room)
                             : writing.clickLength;
  PutClick(writing, writing.pendingPoint, length);
  writing.pending = false;
}

bool WriteClick(void* context, const GridPoint& point) {
  WavClickWriting& writing = *static_cast<WavClickWriting*>(context);
  SoundPendingClick(writing, static_cast<uint64_t>(point.samplePosition));
  writing.pending = true;
  writing.pendingPoint = point;
  return !writing.sink->failed;
}

// The count-in sounds a downbeat on each of its measures' first beats and a
// beat on the others.
void WriteCountIn(WavClickWriting& writing, const ClickPlan& plan) {
  for (int64_t beat = 0; beat < plan.countInBeats && !writing.sink->failed; ++beat) {
    GridPoint click{};
    click.kind = beat % plan.countInMeter == 0 ? PointKind::kDownbeat : PointKind::kBeat;
    click.samplePosition = CountInPosition(plan, beat);
    if (click.samplePosition >= 0) WriteClick(&writing, click);
  }
}

// The last click of the file: the grid's last point moved into place, or,
// when the range holds none that lands in the file, the count-in's last beat.
LastPoint LastClick(const ClickPlan& plan, LastPoint gridLast) {
  if (gridLast.found) {
    gridLast.samplePosition = ShiftSamplePosition(gridLast.samplePosition, plan.gridShift);
    if (gridLast.samplePosition >= 0) return gridLast;
  }
  const int64_t countInLast =
      plan.countInBeats > 0 ? CountInPosition(plan, plan.countInBeats - 1) : -1;
  return LastPoint{countInLast >= 0, countInLast};
}

}  // namespace

bool PlanClickTrack(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                    ClickPlan& plan, Failure& failure) {
  if (settings.sampleRate == 0 || settings.sampleRate > kMostSampleRate) {
    SetFailure(failure, "Error: A WAV file cannot hold a sample rate of %u!\n",
               settings.sampleRate);
    return false;
  }
  plan.clickLength = std::max<int64_t>(1, settings.sampleRate / kClicksPerSecond);
  if (!PlaceCountIn(map, settings, placed, plan, failure)) return false;
  GridPoint lastPoint{};
  const bool found = LastPointInRange(map, settings, lastPoint);
  const LastPoint last = LastClick(plan, LastPoint{found, lastPoint.samplePosition});
  const uint64_t mostSamples = MostDataBytes() / kBytesPerSample;
  if (last.found && static_cast<uint64_t>(last.samplePosition) >
                        mostSamples - static_cast<uint64_t>(plan.clickLength)) {
    SetFailure(failure, "Error: The click track would pass the 4 GiB a WAV file holds!\n");
    return false;
  }
  plan.sampleCount = last.found ? static_cast<uint64_t>(last.samplePosition + plan.clickLength) : 0;
  return true;
}

void WriteClickTrack(const GridMap& map, const GridSettings& settings, const ClickPlan& plan,
                     ExportSink& sink) {
  const PcmFormat mono16{settings.sampleRate, 1, 8 * kBytesPerSample};
  PutWavHeader(sink, mono16, static_cast<uint32_t>(plan.sampleCount * kBytesPerSample));
  static_assert(sizeof(WavClickWriting) < size_t{64} * 1024, "the writing lives on the stack");
  WavClickWriting writing{};
  writing.sink = &sink;
  writing.clickLength = plan.clickLength;
  const ClickSound sounds[] = {kDownbeatSound, kBeatSound, kDivisionSound};
  for (int k = 0; k < 3; ++k) {
    writing.voices[k] = VoiceFor(sounds[k], settings.sampleRate, plan.clickLength);
  }
  WriteCountIn(writing, plan);
  WalkShiftedGrid(map, settings, plan.gridShift, GridVisitor{&writing, WriteClick, nullptr});
  SoundPendingClick(writing, plan.sampleCount);
  PutSilenceUntil(writing, plan.sampleCount);
  FlushSamples(writing);
}
