#include "click_track.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "wav_encoder.h"

namespace {

constexpr size_t kBytesPerSample = 2;
// Its byte rate, sample rate times two, is 32 bits.
constexpr uint32_t kMostSampleRate = 0x7FFFFFFF;
constexpr int kClicksPerSecond = 100;  // a click lasts 10 ms
// Samples put out at once.
constexpr size_t kBufferSamples = 4096;

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

bool RememberPoint(void* context, const GridPoint& point) {
  LastPoint& last = *static_cast<LastPoint*>(context);
  last.found = true;
  last.samplePosition = point.samplePosition;
  return true;
}

// Walks the last measure of the range alone: the clock jumps over everything
// before it exactly as a walk of the whole range would add it up.
LastPoint FindLastPoint(const GridMap& map, const GridSettings& settings) {
  LastPoint last{false, 0};
  const int64_t measure = LastMeasureInRange(map, settings);
  if (measure < 0) return last;
  GridSettings lastMeasure = settings;
  lastMeasure.startMeasure = static_cast<int32_t>(measure);
  lastMeasure.stopMeasure = static_cast<int32_t>(measure);
  WalkGrid(map, lastMeasure, GridVisitor{&last, RememberPoint, nullptr});
  return last;
}

// The header counts the bytes after its first eight in 32 bits.
uint64_t MostDataBytes() {
  return 0xFFFFFFFFull - (WavHeaderBytes() - 8);
}

// The samples on their way out, and where the track has got to.
struct ClickWriting {
  ExportSink* sink;
  uint32_t sampleRate;
  int64_t clickLength;
  uint64_t written;  // samples put out, buffered ones included
  bool pending;      // a click waits for the next point, which may cut it short
  GridPoint pendingPoint;
  uint8_t buffer[kBufferSamples * kBytesPerSample];
  size_t buffered;  // samples in the buffer
};

void FlushSamples(ClickWriting& writing) {
  PutBytes(*writing.sink, writing.buffer, writing.buffered * kBytesPerSample);
  writing.buffered = 0;
}

void PutSample(ClickWriting& writing, int16_t sample) {
  if (writing.buffered == kBufferSamples) FlushSamples(writing);
  const auto bits = static_cast<uint16_t>(sample);
  uint8_t* at = writing.buffer + writing.buffered * kBytesPerSample;
  at[0] = static_cast<uint8_t>(bits);  // little-endian
  at[1] = static_cast<uint8_t>(bits >> 8);
  ++writing.buffered;
  ++writing.written;
}

void PutSilenceUntil(ClickWriting& writing, uint64_t position) {
  while (writing.written < position && !writing.sink->failed) {
    if (writing.buffered == kBufferSamples) FlushSamples(writing);
    const size_t count = static_cast<size_t>(
        std::min<uint64_t>(kBufferSamples - writing.buffered, position - writing.written));
    std::memset(writing.buffer + writing.buffered * kBytesPerSample, 0, count * kBytesPerSample);
    writing.buffered += count;
    writing.written += count;
  }
}

ClickSound SoundOf(const GridPoint& point) {
  switch (point.kind) {
    case PointKind::kDownbeat:
      return kDownbeatSound;
    case PointKind::kBeat:
      return kBeatSound;
    case PointKind::kDivision:
      break;
  }
  return kDivisionSound;
}

int16_t ToSample(double value) {
  return static_cast<int16_t>(std::lround(std::fmax(-32767.0, std::fmin(32767.0, value))));
}

// A cosine that decays to a hundredth over a whole click, from the
// recurrence of a damped oscillator: its first sample is its full level.
void PutClick(ClickWriting& writing, const GridPoint& point, int64_t length) {
  const ClickSound sound = SoundOf(point);
  const double decay = std::pow(0.01, 1.0 / static_cast<double>(writing.clickLength));
  const double cosine = std::cos(2.0 * std::numbers::pi * sound.frequency / writing.sampleRate);
  double current = sound.level * 32767.0;
  double next = current * decay * cosine;
  for (int64_t k = 0; k < length && !writing.sink->failed; ++k) {
    PutSample(writing, ToSample(current));
    const double following = 2.0 * decay * cosine * next - decay * decay * current;
    current = next;
    next = following;
  }
}

// The waiting click sounds until `end` at the most.
void SoundPendingClick(ClickWriting& writing, uint64_t end) {
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
  ClickWriting& writing = *static_cast<ClickWriting*>(context);
  SoundPendingClick(writing, static_cast<uint64_t>(point.samplePosition));
  writing.pending = true;
  writing.pendingPoint = point;
  return !writing.sink->failed;
}

}  // namespace

bool PlanClickTrack(const GridMap& map, const GridSettings& settings, ClickPlan& plan,
                    Failure& failure) {
  if (settings.sampleRate == 0 || settings.sampleRate > kMostSampleRate) {
    SetFailure(failure, "Error: A WAV file cannot hold a sample rate of %u!\n",
               settings.sampleRate);
    return false;
  }
  plan.clickLength = std::max<int64_t>(1, settings.sampleRate / kClicksPerSecond);
  const LastPoint last = FindLastPoint(map, settings);
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
  static_assert(sizeof(ClickWriting) < size_t{64} * 1024, "the writing lives on the stack");
  ClickWriting writing{};
  writing.sink = &sink;
  writing.sampleRate = settings.sampleRate;
  writing.clickLength = plan.clickLength;
  WalkGrid(map, settings, GridVisitor{&writing, WriteClick, nullptr});
  SoundPendingClick(writing, plan.sampleCount);
  PutSilenceUntil(writing, plan.sampleCount);
  FlushSamples(writing);
}
