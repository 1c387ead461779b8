// Recordings: the picture of a grid over one, its lines at the report's
// times; a recording read as a map; and the bad ones, each refused with one
// line and nothing written.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "program_runner.h"

namespace {

using Arguments = std::vector<std::string>;

// Two sections, the second in another tempo and meter.
const char* kMap = "tmap\t120\t4\t4\ntmap\t90\t3\t2\n";
constexpr double kLeftMargin = 20.0;  // where the picture draws its first whole second

// Every `key="` attribute's value in `text`, in order.
std::vector<std::string> Values(const std::string& text, const std::string& element,
                                const std::string& key) {
  std::vector<std::string> values;
  for (size_t at = text.find(element); at != std::string::npos; at = text.find(element, at + 1)) {
    const size_t start = text.find(key + "=\"", at) + key.size() + 2;
    values.push_back(text.substr(start, text.find('"', start) - start));
  }
  return values;
}

class Recording : public SystemTest {
 protected:
  bool BuildReadsRecordings() {
    return Run({"--help"}).output.find("This build reads recordings") != std::string::npos;
  }
  // A mono 16-bit WAV file of `samples` at `rate`.
  void WriteWav(const std::string& name, uint32_t rate, const std::vector<int16_t>& samples) {
    std::string bytes;
    auto put = [&bytes](uint32_t value, int count) {
      for (int k = 0; k < count; ++k) bytes += static_cast<char>(value >> (8 * k) & 0xFF);
    };
    const auto data = static_cast<uint32_t>(2 * samples.size());
    bytes += "RIFF", put(36 + data, 4), bytes += "WAVEfmt ", put(16, 4), put(1, 2), put(1, 2);
    put(rate, 4), put(2 * rate, 4), put(2, 2), put(16, 2), bytes += "data", put(data, 4);
    for (const int16_t sample : samples) put(static_cast<uint16_t>(sample), 2);
    Write(name, bytes);
  }
  // The grid's downbeat times, from the beats export of the same run.
  std::vector<double> Downbeats(const Arguments& run) {
    Arguments beats = run;
    beats.insert(beats.begin(), "--format=beats");
    beats.insert(beats.begin() + static_cast<long>(beats.size() - 1), "grid.beats");
    EXPECT_EQ(Run(beats).status, 0);
    std::vector<double> times;
    for (const std::string& line : Split(Read("grid.beats"), '\n')) {
      double seconds = 0.0;
      int beat = 0;
      if (std::sscanf(line.c_str(), "%lf\t%d", &seconds, &beat) == 2 && beat == 1) {
        times.push_back(seconds);
      }
    }
    return times;
  }
};

TEST_F(Recording, PictureDrawsTheGridOverTheRecording) {
  Write("song.map", kMap);
  ASSERT_EQ(Run({"--format=click", "song.map", "click.wav", "22050"}).status, 0);
  const Arguments options = {"--offset=0.75", "--zoom=50", "--audio=click.wav", "--format=svg"};
  Arguments run = options;
  run.insert(run.end(), {"song.map", "song.svg", "22050"});
  ASSERT_EQ(Run(run).status, 0);
  const std::string svg = Read("song.svg");
  EXPECT_EQ(svg.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg ", 0), 0u);
  EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
  // A bar line at each measure's start, 50 pixels a second from the whole
  // second before the first point, to the report's three decimals.
  const std::vector<double> downbeats = Downbeats({"--offset=0.75", "song.map", "22050"});
  const std::vector<std::string> bars = Values(svg, "class=\"bar\"", "x1");
  ASSERT_EQ(bars.size(), 6u);
  for (size_t k = 0; k < bars.size(); ++k) {
    EXPECT_EQ(bars[k], Fixed(kLeftMargin + (downbeats[k] - std::floor(downbeats[0])) * 50.0, 3))
        << k;
  }
  EXPECT_EQ(Values(svg, "class=\"beat\"", "x1").size(), 4u * 3 + 2 * 2);
  EXPECT_EQ(Values(svg, "class=\"measure\"", "x").size(), 6u);
  EXPECT_NE(svg.find(">Tempo 120.000  Beats/Meas 4</text>"), std::string::npos);
  EXPECT_NE(svg.find(">Tempo 90.000  Beats/Meas 3</text>"), std::string::npos);
  const bool reads = BuildReadsRecordings();
  EXPECT_EQ(svg.find("class=\"wave\"") != std::string::npos, reads);
  // The grid alone: without --audio, or when it names no recording.
  Arguments alone = {"--audio=song.map", "--format=svg", "song.map", "alone.svg"};
  ASSERT_EQ(Run(alone).status, 0);
  EXPECT_EQ(Read("alone.svg").find("class=\"wave\""), std::string::npos);
  const ProgramRun zero = Run({"--zoom=0", "--format=svg", "song.map", "zero.svg"});
  EXPECT_EQ(zero.output, "Error: --zoom takes whole pixels per second from 1 to 10000!\n");
  EXPECT_EQ(zero.status, 1);
  EXPECT_FALSE(Exists("zero.svg"));
}

TEST_F(Recording, ReadAsAMapWhereverAMapIsRead) {
  if (!BuildReadsRecordings()) {
    ExpectRefused(Run({"--format=beats", "click.wav", "found.beats"}), "");
    return;
  }
  // Eight measures of clicks, measure 1 half a second in.
  Write("song.map", "tmap\t120\t4\t8\n");
  ASSERT_EQ(Run({"--offset=0.5", "--format=click", "song.map", "click.wav", "22050"}).status, 0);
  const ProgramRun found = Run({"--format=beats", "click.wav", "found.beats"});
  ASSERT_EQ(found.status, 0) << found.output;
  EXPECT_NE(found.output.find("\nFitted "), std::string::npos) << found.output;
  const std::vector<std::string> lines = Split(Read("found.beats"), '\n');
  ASSERT_GE(lines.size(), 31u);
  for (size_t k = 0; k < 32 && k < lines.size(); ++k) {
    double seconds = 0.0;
    int beat = 0;
    ASSERT_EQ(std::sscanf(lines[k].c_str(), "%lf\t%d", &seconds, &beat), 2);
    EXPECT_NEAR(seconds, 0.5 + 0.5 * static_cast<double>(k), 0.015) << k;
    EXPECT_EQ(beat, static_cast<int>(k % 4) + 1) << k;
  }
  // Without RATE the grid's samples are the recording's own.
  ASSERT_EQ(Run({"--format=csv", "click.wav", "found.csv"}).status, 0);
  const std::vector<std::string> csv = Split(Read("found.csv"), '\n');
  ASSERT_GT(csv.size(), 2u);
  const std::vector<std::string> first = Split(csv[1], ',');
  EXPECT_EQ(std::stoll(first[5]), static_cast<long long>(std::stod(first[4]) * 22050));
  // The batch run's report at the recording's rate, and --check.
  ASSERT_EQ(Run({"click.wav", "grid.txt"}).status, 0);
  EXPECT_EQ(Read("grid.txt").rfind("\nSample Rate\t22050\n", 0), 0u);
  const ProgramRun check = Run({"--check", "click.wav"});
  EXPECT_EQ(check.status, 0);
  EXPECT_NE(check.output.find("\nFitted "), std::string::npos) << check.output;
  // The picture of a recording draws its own waveform and the beats it was fitted to.
  ASSERT_EQ(Run({"--format=svg", "click.wav", "found.svg"}).status, 0);
  const std::string svg = Read("found.svg");
  EXPECT_NE(svg.find("class=\"wave\""), std::string::npos);
  EXPECT_GE(Values(svg, "<circle", "cx").size(), 30u);
}

TEST_F(Recording, BadRecordingsAreRefusedWithOneLine) {
  if (!BuildReadsRecordings()) return;
  const uint32_t rate = 8000;
  WriteWav("silence.wav", rate, std::vector<int16_t>(rate * 5, 0));
  std::vector<int16_t> noise(rate * 5);
  uint32_t state = 23;
  for (int16_t& sample : noise) {
    state = state * 1664525U + 1013904223U;
    sample = static_cast<int16_t>(state >> 16);
  }
  WriteWav("noise.wav", rate, noise);
  WriteWav("short.wav", rate, std::vector<int16_t>(rate, 1000));
  const std::string whole = Read("noise.wav");
  Write("cut.wav", whole.substr(0, whole.size() / 2));
  Write("stranger.wav", std::string("RIFF\x10\0\0\0WAVEjunkjunk", 20));
  for (const char* name : {"silence.wav", "noise.wav", "short.wav", "cut.wav", "stranger.wav"}) {
    const ProgramRun run = Run({"--format=beats", name, "out.beats"});
    ExpectRefused(run, "");
    EXPECT_NE(run.output.find(std::string("Error: Cannot read ") + name + " as a recording: "),
              std::string::npos)
        << run.output;
    EXPECT_FALSE(Exists("out.beats")) << name;
  }
}

}  // namespace
