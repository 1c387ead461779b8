#include "maps/recording_beats.h"

#ifdef BEATSTAMPS_RECORDINGS

#include <dsp/onsets/DetectionFunction.h>
#include <dsp/rateconversion/Decimator.h>
#include <dsp/tempotracking/DownBeat.h>
#include <dsp/tempotracking/TempoTrackV2.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "maps/sound_file.h"

namespace {

// The detection function sees nothing above about 5 kHz that matters for
// beats: the recording is brought down by a power of two to no less than this.
constexpr double kLeastAnalysisRate = 11000.0;
// The detection function's hop, for which the tracker's windows are made
// (512 samples at 44.1 kHz).
constexpr double kStepSeconds = 0.01161;
// The downbeat finder compares spectra of audio at about 2.7 kHz; it keeps
// all of it, so no faster than this.
constexpr double kMostDownbeatRate = 3000.0;
constexpr int32_t kMostDecimatorFactor = 8;  // qm-dsp's Decimator, chained twice at most
constexpr int32_t kMostDecimation = kMostDecimatorFactor * kMostDecimatorFactor;
// Steps of the detection function decoded at once, and the blocks of them
// that may wait for the detection function.
constexpr int64_t kStepsPerRead = 16;
constexpr size_t kQueuedChunks = 8;
// A recording shorter than this holds too few beats to find a tempo in.
constexpr double kLeastSeconds = 3.0;
// The tracker sets a beat at every period whatever the sound; in music the
// detection function peaks on the beats far above its level between them.
constexpr double kLeastBeatSalience = 1.25;
// A beat at either end of the music stands at least this far (of the
// median beat's) above the detection function's floor.
constexpr double kLeastEndBeatPeak = 0.1;
// A beat moves to an onset no farther than its period over this.
constexpr double kOnsetReach = 12.0;
// The tracker's window over the detection function, in values.
constexpr int32_t kTrackerWindow = 512;
// The floor under the detection function, relative to its peak.
constexpr double kDetectionFloor = 1e-6;

struct AnalysisPlan {
  int32_t decimation;      // recording samples per analysis sample
  double rate;             // of the analysis
  int32_t downbeatFactor;  // analysis samples per downbeat-finder sample
  int32_t step;            // analysis samples per detection function value
};

int32_t PowerOfTwoAtMost(double ratio) {
  int32_t factor = 1;
  while (factor * 2 <= ratio) factor *= 2;
  return factor;
}

AnalysisPlan PlanAnalysis(uint32_t sampleRate) {
  AnalysisPlan plan{};
  plan.decimation = std::min(PowerOfTwoAtMost(sampleRate / kLeastAnalysisRate), kMostDecimation);
  plan.rate = static_cast<double>(sampleRate) / plan.decimation;
  plan.downbeatFactor = 1;
  while (plan.rate / plan.downbeatFactor > kMostDownbeatRate) plan.downbeatFactor *= 2;
  // The downbeat finder takes whole steps of its own samples.
  const double steps = std::round(plan.rate * kStepSeconds / plan.downbeatFactor);
  plan.step = static_cast<int32_t>(std::max(1.0, steps)) * plan.downbeatFactor;
  return plan;
}

// Brings blocks of samples down by a power of two through one or two of
// qm-dsp's decimators, in double precision (their single-precision path
// takes twice as long).
class BlockDecimator {
 public:
  BlockDecimator(int32_t length, int32_t factor) {
    while (factor > 1) {
      const int32_t stage = std::min(factor, kMostDecimatorFactor);
      stages_.push_back(std::make_unique<Decimator>(length, stage));
      length /= stage;
      factor /= stage;
    }
  }
  // `samples` holds a block; the decimated block comes out at its start.
  void Decimate(double* samples) {
    for (auto& stage : stages_) stage->process(samples, samples);
  }

 private:
  std::vector<std::unique_ptr<Decimator>> stages_;
};

DFConfig DetectionConfig(const AnalysisPlan& plan) {
  DFConfig config{};
  config.stepSize = static_cast<unsigned int>(plan.step);
  config.frameLength = static_cast<unsigned int>(plan.step * 2);
  config.DFType = DF_COMPLEXSD;
  config.dbRise = 3.0;
  config.adaptiveWhitening = false;
  config.whiteningRelaxCoeff = -1.0;
  config.whiteningFloor = -1.0;
  return config;
}

// What one pass over the recording gathers.
struct Analysis {
  std::vector<double> detection;  // one value per step; value n centred on sample n * step
  int64_t frames;
};

// Steps of analysis samples, handed from the thread that decodes and
// decimates the recording to the one that runs the detection function: the
// two halves of the work run side by side, in fixed memory.
class StepQueue {
 public:
  explicit StepQueue(int32_t step) : chunks_(kQueuedChunks) {
    for (Chunk& chunk : chunks_) chunk.samples.resize(static_cast<size_t>(step) * kStepsPerRead);
  }
  struct Chunk {
    std::vector<double> samples;
    int64_t steps;
  };
  // The decoder's side: a chunk to fill, null once the reader has stopped.
  Chunk* Free() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return filled_ < chunks_.size() || stopped_; });
    return stopped_ ? nullptr : &chunks_[(first_ + filled_) % chunks_.size()];
  }
  void Push() {
    Change([this] { ++filled_; });
  }
  void Close() {
    Change([this] { closed_ = true; });
  }
  // The reader's side: the next chunk, null after the last.
  const Chunk* Next() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return filled_ > 0 || closed_; });
    return filled_ > 0 ? &chunks_[first_] : nullptr;
  }
  void Pop() {
    Change([this] {
      first_ = (first_ + 1) % chunks_.size();
      --filled_;
    });
  }
  // The reader gives up: the decoder stops at its next chunk.
  void Stop() {
    Change([this] { stopped_ = true; });
  }

 private:
  template <typename Step>
  void Change(Step step) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      step();
    }
    changed_.notify_all();
  }
  std::vector<Chunk> chunks_;
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t first_ = 0;
  size_t filled_ = 0;
  bool closed_ = false;
  bool stopped_ = false;
};

// What the decoding thread reports when it is done.
struct Decoding {
  int64_t frames;
  bool failed;
  Failure failure;
};

// Decodes the whole recording a block at a time: each step is decimated to
// the analysis rate and queued, and brought down further into the downbeat
// finder's buffer.
void DecodeSteps(SoundStream& stream, const AnalysisPlan& plan, DownBeat& downBeat,
                 StepQueue& queue, Decoding& decoding) {
  const int64_t stepFrames = int64_t{plan.step} * plan.decimation;
  const int32_t downbeatStep = plan.step / plan.downbeatFactor;
  const int64_t blockFrames = stepFrames * kStepsPerRead;
  std::vector<float> samples(static_cast<size_t>(blockFrames));
  std::vector<double> step(static_cast<size_t>(stepFrames));
  std::vector<double> downbeatStepSamples(static_cast<size_t>(plan.step));
  std::vector<float> downbeatAudio(static_cast<size_t>(downbeatStep));
  BlockDecimator toAnalysis(static_cast<int32_t>(stepFrames), plan.decimation);
  BlockDecimator toDownbeats(plan.step, plan.downbeatFactor);
  int64_t read = blockFrames;
  while (read == blockFrames) {
    if (!ReadMonoFrames(stream, samples.data(), blockFrames, read, decoding.failure)) {
      decoding.failed = true;
      return;
    }
    decoding.frames += read;
    StepQueue::Chunk* chunk = queue.Free();
    if (chunk == nullptr) return;
    // The last step is filled out with silence.
    chunk->steps = (read + stepFrames - 1) / stepFrames;
    std::fill(samples.begin() + read, samples.begin() + chunk->steps * stepFrames, 0.0F);
    for (int64_t k = 0; k < chunk->steps; ++k) {
      const float* from = samples.data() + k * stepFrames;
      std::copy(from, from + stepFrames, step.begin());
      toAnalysis.Decimate(step.data());
      std::copy(step.begin(), step.begin() + plan.step, chunk->samples.begin() + k * plan.step);
      std::copy(step.begin(), step.begin() + plan.step, downbeatStepSamples.begin());
      toDownbeats.Decimate(downbeatStepSamples.data());
      std::copy(downbeatStepSamples.begin(), downbeatStepSamples.begin() + downbeatStep,
                downbeatAudio.begin());
      downBeat.pushAudioBlock(downbeatAudio.data());
    }
    queue.Push();
  }
}

void DecodeStepsToTheEnd(SoundStream& stream, const AnalysisPlan& plan, DownBeat& downBeat,
                         StepQueue& queue, Decoding& decoding) {
  try {
    DecodeSteps(stream, plan, downBeat, queue, decoding);
  } catch (const std::bad_alloc&) {
    decoding.failed = true;
    SetFailure(decoding.failure, "Error: Not enough memory to find the recording's beats!\n");
  }
  queue.Close();
}

// Each queued step, with the step before it, through the detection function.
void DetectOnsets(const AnalysisPlan& plan, StepQueue& queue, Analysis& analysis) {
  std::vector<double> window(static_cast<size_t>(plan.step) * 2, 0.0);
  DetectionFunction detection(DetectionConfig(plan));
  for (const StepQueue::Chunk* chunk = queue.Next(); chunk != nullptr; chunk = queue.Next()) {
    for (int64_t k = 0; k < chunk->steps; ++k) {
      const auto from = chunk->samples.begin() + k * plan.step;
      std::copy(window.begin() + plan.step, window.end(), window.begin());
      std::copy(from, from + plan.step, window.begin() + plan.step);
      analysis.detection.push_back(detection.processTimeDomain(window.data()));
    }
    queue.Pop();
  }
}

// Decodes the recording on a thread of its own while the detection function
// runs on this one; the downbeat finder's buffer is filled by the decoder
// and read only after it has ended.
bool AnalyseRecording(SoundStream& stream, const AnalysisPlan& plan, DownBeat& downBeat,
                      Analysis& analysis, Failure& failure) {
  StepQueue queue(plan.step);
  Decoding decoding{0, false, {}};
  std::thread decoder(DecodeStepsToTheEnd, std::ref(stream), std::cref(plan), std::ref(downBeat),
                      std::ref(queue), std::ref(decoding));
  try {
    DetectOnsets(plan, queue, analysis);
  } catch (...) {
    queue.Stop();
    decoder.join();
    throw;
  }
  decoder.join();
  analysis.frames = decoding.frames;
  if (decoding.failed) failure = decoding.failure;
  return !decoding.failed;
}

// The tracker normalises windows of the detection function, and one that is
// exactly 0 throughout (digital silence, a click track's gaps) divides by
// zero in it: a floor of fixed pseudo-random values far below the function's
// peak keeps every window above 0 and changes nothing audible.
void AddDetectionFloor(std::vector<double>& detection) {
  const double peak = *std::max_element(detection.begin(), detection.end());
  const double floor = (peak > 0.0 ? peak : 1.0) * kDetectionFloor;
  uint32_t state = 1;
  for (double& value : detection) {
    state = state * 1664525U + 1013904223U;
    value += floor * static_cast<double>(state >> 8) / 16777216.0;
  }
}

// The tracker finds the period of each hop of 128 values from the
// window of kTrackerWindow values that begins there, so its periods reach a
// tempo change half a window before the music does: they are moved on by
// half a window, so that each window's period lies at its centre.
void CentrePeriods(std::vector<double>& periods) {
  const auto lead = static_cast<ptrdiff_t>(kTrackerWindow / 2);
  if (static_cast<ptrdiff_t>(periods.size()) <= lead) return;
  std::copy_backward(periods.begin(), periods.end() - lead, periods.end());
  std::fill(periods.begin(), periods.begin() + lead, periods[lead]);
}

// The detection function near a beat: its largest value within a quarter of
// the beat period around `position`.
double PeakNear(const std::vector<double>& detection, double position, double period) {
  const double reach = std::max(1.0, period / 4.0);
  const auto first = static_cast<int64_t>(std::max(0.0, std::ceil(position - reach)));
  const int64_t last = std::min(static_cast<int64_t>(std::floor(position + reach)),
                                static_cast<int64_t>(detection.size()) - 1);
  double peak = 0.0;
  for (int64_t k = first; k <= last; ++k) peak = std::max(peak, detection[k]);
  return peak;
}

// How far the detection function stands above itself on the beats than
// halfway between them: about 1 for noise, where the tracker's beats are
// merely regular.
double BeatSalience(const std::vector<double>& detection, const std::vector<double>& beats) {
  double onBeats = 0.0;
  double between = 0.0;
  for (size_t k = 1; k < beats.size(); ++k) {
    const double period = beats[k] - beats[k - 1];
    onBeats += PeakNear(detection, beats[k], period);
    between += PeakNear(detection, beats[k] - period / 2.0, period);
  }
  return between > 0.0 ? onBeats / between : 0.0;
}

// The tracker goes on setting beats through the silence or the fading sound
// before and after the music: beats at either end whose detection function
// stays far below that of the beats in the music are left out.
void TrimQuietEnds(const std::vector<double>& detection, std::vector<double>& beats) {
  if (beats.size() < 3) return;
  std::vector<double> peaks(beats.size());
  for (size_t k = 0; k < beats.size(); ++k) {
    const double period = k + 1 < beats.size() ? beats[k + 1] - beats[k] : beats[k] - beats[k - 1];
    peaks[k] = PeakNear(detection, beats[k], period);
  }
  std::vector<double> sorted = peaks;
  const auto middle = sorted.begin() + static_cast<ptrdiff_t>(sorted.size() / 2);
  std::nth_element(sorted.begin(), middle, sorted.end());
  const double least = *middle * kLeastEndBeatPeak;
  size_t first = 0;
  size_t end = peaks.size();
  while (first < end && peaks[first] < least) ++first;
  while (end > first && peaks[end - 1] < least) --end;
  beats.erase(beats.begin() + static_cast<ptrdiff_t>(end), beats.end());
  beats.erase(beats.begin(), beats.begin() + static_cast<ptrdiff_t>(first));
}

// The tracker sets each beat on a whole detection function value, and where
// the tempo changes it lets its beats drift off the onsets for a few beats
// while its period follows: each beat is moved to the detection function's
// peak within a twelfth of its period (never as far as an off-beat, nor as
// the end of a short note), placed between values by the parabola through the
// peak and its neighbours.
void MoveBeatsToOnsets(const std::vector<double>& detection, std::vector<double>& beats) {
  const auto last = static_cast<int64_t>(detection.size()) - 1;
  for (size_t k = 0; k < beats.size(); ++k) {
    const double period = k + 1 < beats.size() ? beats[k + 1] - beats[k]
                          : k > 0              ? beats[k] - beats[k - 1]
                                               : 0.0;
    const auto reach = static_cast<int64_t>(period / kOnsetReach);
    const auto at = static_cast<int64_t>(std::llround(beats[k]));
    int64_t peak = std::clamp<int64_t>(at, 0, last);
    for (int64_t n = std::max<int64_t>(0, at - reach); n <= std::min(last, at + reach); ++n) {
      if (detection[n] > detection[peak]) peak = n;
    }
    double shift = 0.0;
    if (peak > 0 && peak < last) {
      const double before = detection[peak - 1];
      const double after = detection[peak + 1];
      const double curve = before - 2.0 * detection[peak] + after;
      if (curve < 0.0) shift = std::clamp(0.5 * (before - after) / curve, -0.5, 0.5);
    }
    beats[k] = static_cast<double>(peak) + shift;
  }
}

// Each beat numbered in its measure: 1 on a downbeat, counting on from
// there and back before the first.
std::vector<ListedBeat> NumberBeats(const std::vector<double>& beats,
                                    const std::vector<int>& downbeats, int32_t meter,
                                    double secondsPerStep) {
  std::vector<ListedBeat> listed;
  listed.reserve(beats.size());
  const int64_t first = downbeats.empty() ? 0 : downbeats.front();
  size_t next = 0;  // the next downbeat not passed
  int64_t last = first;
  for (size_t k = 0; k < beats.size(); ++k) {
    const auto index = static_cast<int64_t>(k);
    while (next < downbeats.size() && downbeats[next] <= index) last = downbeats[next++];
    const int64_t since = index - (index < first ? first : last);
    const int64_t inMeasure = ((since % meter) + meter) % meter + 1;
    // Value n of the detection function peaks on an onset at the start of
    // its window, one step before n.
    listed.push_back(ListedBeat{std::max(0.0, beats[k] - 1.0) * secondsPerStep,
                                static_cast<int32_t>(inMeasure), static_cast<int32_t>(k + 1)});
  }
  return listed;
}

bool FindBeats(const char* name, SoundStream& stream, const SoundInfo& info, int32_t meter,
               RecordingBeats& found, Failure& failure) {
  const AnalysisPlan plan = PlanAnalysis(info.sampleRate);
  // The downbeat finder is handed its audio already brought down, in double
  // precision: as audio at that rate, with steps of that many samples.
  DownBeat downBeat(static_cast<float>(plan.rate / plan.downbeatFactor), 1,
                    static_cast<size_t>(plan.step / plan.downbeatFactor));
  downBeat.setBeatsPerBar(meter);
  Analysis analysis{{}, 0};
  if (info.frames > 0) analysis.detection.reserve(info.frames / plan.step / plan.decimation + 2);
  if (!AnalyseRecording(stream, plan, downBeat, analysis, failure)) return false;
  found.sampleRate = info.sampleRate;
  found.seconds = static_cast<double>(analysis.frames) / info.sampleRate;
  if (found.seconds < kLeastSeconds) {
    SetRecordingFailure(failure, name, "it is too short to find a tempo in (3 seconds at least)");
    return false;
  }
  // Silence, digital or all but, has no onset anywhere.
  if (*std::max_element(analysis.detection.begin(), analysis.detection.end()) <= 0.0) {
    SetRecordingFailure(failure, name, "it is silent: no beat found");
    return false;
  }
  // The first two values see a frame without one before it.
  analysis.detection[0] = analysis.detection[1] = 0.0;
  AddDetectionFloor(analysis.detection);
  TempoTrackV2 tracker(static_cast<float>(plan.rate), static_cast<size_t>(plan.step));
  // One period per detection function value, filled in by the tracker.
  std::vector<double> periods(analysis.detection.size());
  std::vector<double> tempi;
  tracker.calculateBeatPeriod(analysis.detection, periods, tempi, 120.0, false);
  CentrePeriods(periods);
  std::vector<double> beats;
  tracker.calculateBeats(analysis.detection, periods, beats, 0.9, 4.0);
  TrimQuietEnds(analysis.detection, beats);
  if (beats.size() < 2 || BeatSalience(analysis.detection, beats) < kLeastBeatSalience) {
    SetRecordingFailure(failure, name, "no beat found: it holds no steady pulse");
    return false;
  }
  MoveBeatsToOnsets(analysis.detection, beats);
  size_t audioLength = 0;
  const float* audio = downBeat.getBufferedAudio(audioLength);
  std::vector<int> downbeats;
  downBeat.findDownBeats(audio, audioLength, beats, downbeats);
  found.beats = NumberBeats(beats, downbeats, meter, plan.step / plan.rate);
  return true;
}

}  // namespace

bool FindRecordingBeats(const char* name, int32_t meter, RecordingBeats& found, Failure& failure) {
  SoundStreamHandle stream;
  SoundInfo info{};
  if (!OpenSoundStream(name, stream, info, failure)) return false;
  if (static_cast<double>(info.frames) > kMostRecordingSeconds * info.sampleRate) {
    SetRecordingFailure(failure, name, "it is longer than 12 hours");
    return false;
  }
  try {
    return FindBeats(name, *stream, info, meter, found, failure);
  } catch (const std::bad_alloc&) {
    SetRecordingFailure(failure, name, "not enough memory to find its beats");
    return false;
  }
}

#else  // a build without the libraries refuses the recording as it opens it

#include "maps/sound_file.h"

bool FindRecordingBeats(const char* name, int32_t /*meter*/, RecordingBeats& /*found*/,
                        Failure& failure) {
  SoundStreamHandle stream;
  SoundInfo info{};
  return OpenSoundStream(name, stream, info, failure);
}

#endif  // BEATSTAMPS_RECORDINGS
