// The grid placed in a recording (--offset, --count-in, --audio) and the beat
// files for research and rhythm games (beats, osu, ssc), read back.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "program_runner.h"

namespace {

using Arguments = std::vector<std::string>;
const std::string kShoreline = std::string(BEATSTAMPS_EXAMPLES) + "/shoreline.map";
const std::string kSummary = "Read 9 sections, 81 measures, 330 beats\n";
const Arguments kWholeMap = {"48000", "1", "2147483647", "2"};

// A CSV line: "section,measure,beat,division", the seconds and the sample.
struct Point {
  std::string label;
  double seconds;
  long long sample;
  bool IsBeat() const { return label.substr(label.rfind(',')) == ",1"; }
  std::string Beat() const { return Split(label, ',')[2]; }
};

std::vector<Point> CsvPoints(const std::string& csv) {
  std::vector<Point> points;
  for (const std::string& line : Split(csv, '\n')) {
    const size_t seconds = line.rfind(',', line.rfind(',') - 1);
    if (line.rfind("section", 0) == 0 || seconds == std::string::npos) continue;
    points.push_back({line.substr(0, seconds), std::stod(line.substr(seconds + 1)),
                      std::stoll(line.substr(line.rfind(',') + 1))});
  }
  return points;
}

// The 16-bit samples of a WAV file written by the program (a 44-byte header).
std::vector<int16_t> Samples(const std::string& wav) {
  std::vector<int16_t> samples;
  for (size_t at = 44; at + 1 < wav.size(); at += 2) {
    samples.push_back(static_cast<int16_t>(static_cast<uint8_t>(wav[at]) |
                                           static_cast<uint8_t>(wav[at + 1]) << 8));
  }
  return samples;
}

// Where a click sounds after silence, with the first sample of its sound.
std::vector<std::pair<size_t, int16_t>> ClickStarts(const std::vector<int16_t>& samples) {
  std::vector<std::pair<size_t, int16_t>> starts;
  for (size_t k = 0, silent = 100; k < samples.size(); ++k) {
    if (samples[k] != 0 && silent >= 100) starts.push_back({k, samples[k]});
    silent = samples[k] == 0 ? silent + 1 : 0;
  }
  return starts;
}

constexpr int16_t kDownbeat = 29490, kBeat = 19660;  // 0.9 and 0.6 of full scale

class Placement : public SystemTest {
 protected:
  std::string map_ = kShoreline, summary_ = kSummary;
  // The file an export writes with `options` before --format.
  std::string Exported(const Arguments& options, const std::string& format,
                       const Arguments& settings) {
    Arguments arguments = options;
    arguments.insert(arguments.end(), {"--format=" + format, map_, "out." + format});
    arguments.insert(arguments.end(), settings.begin(), settings.end());
    const ProgramRun run = Run(arguments);
    const std::string data = Read("out." + format);
    EXPECT_EQ(run.output, Banner() + summary_ + "Saved " + std::to_string(data.size()) + " bytes\n")
        << format;
    return data;
  }
};

TEST_F(Placement, OptionsTakeTheirValuesOrRefuseThemBeforeReading) {
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"--offset=", "--offset"},
      {"--offset=1.5x", "--offset"},
      {"--offset=nan", "--offset"},
      {"--offset=inf", "--offset"},
      {"--offset=3e9", "--offset"},
      {"--offset=1.5smp", "--offset"},
      {"--offset=smp", "--offset"},
      {"--offset=99999999999999999999smp", "--offset"},
      {"--count-in=17", "--count-in"},
      {"--count-in=-1", "--count-in"},
      {"--count-in=2.0", "--count-in"},
      {"--count-in=", "--count-in"},
      {"--audio=", "--audio"},
      {"--audio=a;b.mp3", "--audio"},
      {"--audio=a\nb.mp3", "--audio"},
      {"--audio=song.mp3 ", "--audio"},
      {"--audio=" + std::string(128, 'a'), "--audio"}};
  for (const auto& [option, name] : bad) {
    const ProgramRun run = Run({option, "--format=csv", kShoreline, "out.csv"});
    EXPECT_EQ(run.output.rfind("Error: " + name + " takes ", 0), 0u) << option;
    EXPECT_EQ(run.output.find('\n'), run.output.size() - 1) << option;
    EXPECT_EQ(run.status, 1) << option;
  }
  EXPECT_TRUE(Listing().empty());
  // The interactive run has no recording to place the grid in.
  ProgramRun run = Run({"--offset=1", kShoreline});
  EXPECT_EQ(run.output,
            "Error: --offset, --count-in and --audio need a tempo map and an output file! (see "
            "beatstamps1a --help)\n");
  EXPECT_EQ(run.status, 1);
  // A rate of 0 has no samples to move by.
  ExpectRefused(Run({"--offset=1", "--format=csv", kShoreline, "out.csv", "0"}), kSummary);
  EXPECT_TRUE(Listing().empty());
  // strtod's own forms, and the last of each option wins.
  EXPECT_EQ(CsvPoints(Exported({"--offset=9", "--offset=0x10"}, "csv", kWholeMap))[0].sample,
            16 * 48000);
  EXPECT_EQ(CsvPoints(Exported({"--offset=+1e-3"}, "csv", kWholeMap))[0].sample, 48);
  run = Run({"--help"});
  for (const std::string shown : {"--offset=TIME", "--count-in=N", "--audio=NAME", "--format=beats",
                                  "--format=osu", "--format=ssc"}) {
    EXPECT_NE(run.output.find(shown), std::string::npos) << shown;
  }
}

TEST_F(Placement, OffsetMovesEveryPointByWholeSamplesAndLeavesOutThoseBeforeZero) {
  const std::vector<Point> base = CsvPoints(Exported({}, "csv", kWholeMap));
  const std::vector<int16_t> baseClicks = Samples(Exported({}, "click", kWholeMap));
  ASSERT_EQ(base.size(), 660u);
  // A step of shoreline's first section is 0.3125 s, 15,000 samples: -75001 leaves out six.
  const std::vector<std::pair<std::string, long long>> offsets = {
      {"60000smp", 60000}, {"1.25", 60000}, {"-0.5", -24000}, {"-75001smp", -75001}};
  for (const auto& [option, shift] : offsets) {
    const std::vector<Point> moved = CsvPoints(Exported({"--offset=" + option}, "csv", kWholeMap));
    const std::vector<std::string> labels =
        Split(Exported({"--offset=" + option}, "labels", kWholeMap), '\n');
    std::remove(Path("grid.txt").c_str());
    ASSERT_EQ(Run({"--offset=" + option, map_, "grid.txt", "48000", "1", "4", "2"}).status, 0);
    const std::vector<std::string> report = Split(Read("grid.txt"), '\n');
    const size_t left = shift == -75001 ? 6 : shift < 0 ? 2 : 0;
    ASSERT_EQ(moved.size(), base.size() - left) << option;
    ASSERT_EQ(labels.size(), moved.size()) << option;
    size_t reported = 0;
    for (size_t k = 0; k < moved.size(); ++k) {
      const Point& was = base[k + left];
      EXPECT_EQ(moved[k].label, was.label) << option;
      EXPECT_EQ(moved[k].sample, was.sample + shift) << was.label;
      EXPECT_NEAR(moved[k].seconds, was.seconds + shift / 48000.0, 1e-9) << was.label;
      EXPECT_EQ(labels[k].substr(0, labels[k].find('\t')), Fixed(moved[k].seconds, 6));
      // The report's lines, in the same order, hold the same samples.
      while (reported < report.size() && report[reported].find(" smp") == std::string::npos) {
        ++reported;
      }
      if (reported < report.size()) {
        const std::string& step = report[reported++];
        EXPECT_EQ(step.substr(step.rfind('\t') + 1), std::to_string(moved[k].sample) + " smp");
      }
    }
    EXPECT_GT(reported, 20u) << option;
    EXPECT_EQ(report.at(3).rfind("Section 1\t", 0), 0u) << "the header before the first step";
    // The click track is the same file moved; a click left out leaves silence.
    const std::vector<int16_t> clicks =
        Samples(Exported({"--offset=" + option}, "click", kWholeMap));
    ASSERT_EQ(clicks.size(), baseClicks.size() + shift) << option;
    for (size_t at = 0; at < clicks.size(); ++at) {
      const long long from = static_cast<long long>(at) - shift;
      const int16_t expected = at < static_cast<size_t>(moved[0].sample) ? 0 : baseClicks[from];
      if (clicks[at] == expected) continue;
      ADD_FAILURE() << option << ": sample " << at;
      break;
    }
  }
  // Seconds become the nearest whole sample: 0.0625 s at 8 samples a second is half of one.
  EXPECT_EQ(CsvPoints(Exported({"--offset=0.0625"}, "csv", {"8", "1", "1", "2"}))[0].sample, 1);
  const std::vector<Point> back = CsvPoints(Exported({"--offset=-0.0625"}, "csv", {"8", "1", "1"}));
  EXPECT_EQ(back[0].label + " " + std::to_string(back[0].sample), "1,1,2,1 4");
}

TEST_F(Placement, CountInLeadsTheClickTrackIntoMeasureOne) {
  // Two measures of 3/4 at 90 beats per minute: six beats of 5333 1/3 samples.
  Write("waltz.map", "tmap\t90\t3\t2\ntmap\t120\t4\t1\n");
  map_ = "waltz.map", summary_ = "Read 2 sections, 3 measures, 10 beats\n";
  const Arguments rate = {"8000", "1", "3", "2"};
  const std::vector<int16_t> plain = Samples(Exported({}, "click", rate));
  const std::vector<int16_t> counted = Samples(Exported({"--count-in=2"}, "click", rate));
  ASSERT_EQ(counted.size(), plain.size() + 32000);
  const std::vector<std::pair<size_t, int16_t>> countIn = {{0, kDownbeat}, {5333, kBeat},
                                                           {10667, kBeat}, {16000, kDownbeat},
                                                           {21333, kBeat}, {26667, kBeat}};
  std::vector<std::pair<size_t, int16_t>> starts = ClickStarts(counted);
  starts.resize(6);
  EXPECT_EQ(starts, countIn);
  EXPECT_TRUE(std::equal(plain.begin(), plain.end(), counted.begin() + 32000));
  // With an offset, measure 1 stands there and the count-in ends at it.
  const std::vector<int16_t> placed =
      Samples(Exported({"--count-in=2", "--offset=1"}, "click", rate));
  ASSERT_EQ(placed.size(), plain.size() + 8000);
  EXPECT_EQ(ClickStarts(placed)[0], (std::pair<size_t, int16_t>{2667, kBeat}));
  EXPECT_TRUE(std::equal(plain.begin(), plain.end(), placed.begin() + 8000));
  // A range later in the map keeps the count-in before measure 1.
  const std::vector<int16_t> later =
      Samples(Exported({"--count-in=1"}, "click", {"8000", "3", "3"}));
  EXPECT_EQ(ClickStarts(later).front(), (std::pair<size_t, int16_t>{0, kDownbeat}));
  // Measure 3 lies where the report puts it (4 s, less the running sum's last bit), moved.
  const long long measure3 = CsvPoints(Exported({}, "csv", {"8000", "3", "3"}))[0].sample;
  EXPECT_EQ(measure3, 31999);
  EXPECT_EQ(ClickStarts(later).at(3).first, static_cast<size_t>(measure3 + 16000));
  // The other formats ignore it.
  EXPECT_EQ(Exported({"--count-in=2"}, "csv", rate), Exported({}, "csv", rate));
  Write("long.map", "tmap\t120\t2000000\t1\n");
  map_ = "long.map";
  ExpectRefused(Run({"--count-in=16", "--format=click", "long.map", "out.wav"}),
                "Read 1 sections, 1 measures, 2000000 beats\n");
}

TEST_F(Placement, BeatsFileHoldsEveryBeatWithItsNumberInTheMeasure) {
  const std::vector<Point> points = CsvPoints(Exported({}, "csv", kWholeMap));
  const std::vector<std::string> lines = Split(Exported({}, "beats", kWholeMap), '\n');
  ASSERT_EQ(lines.size(), 330u);
  EXPECT_EQ(lines[0] + "|" + lines[1] + "|" + lines[4], "0.000000\t1|0.625000\t2|2.500000\t1");
  size_t line = 0;
  for (const Point& point : points) {
    if (!point.IsBeat()) continue;
    ASSERT_LT(line, lines.size());
    EXPECT_EQ(lines[line++], Fixed(point.seconds, 6) + "\t" + point.Beat());
  }
  // Measure 10 begins section 3: 8 measures of 2.5 s, then one of 1.25 s.
  EXPECT_EQ(Exported({"--offset=-21"}, "beats", {"48000", "10", "10", "3"}),
            "0.250000\t1\n0.826923\t2\n1.403846\t3\n1.980769\t4\n");
}

TEST_F(Placement, OsuFileHoldsATimingPointWhereEachSectionBegins) {
  const std::vector<std::string> lines =
      Split(Exported({"--audio=Shoreline (album).ogg"}, "osu", kWholeMap), '\n');
  ASSERT_GT(lines.size(), 10u);
  EXPECT_EQ(lines[0], "osu file format v14");
  for (const std::string field :
       {"[General]", "AudioFilename: Shoreline (album).ogg", "[Metadata]",
        "Title:Shoreline - album version", "[Difficulty]", "[TimingPoints]"}) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), field), lines.end()) << field;
  }
  EXPECT_EQ(lines.back(), "[HitObjects]");
  const size_t first = std::find(lines.begin(), lines.end(), "[TimingPoints]") - lines.begin() + 1;
  ASSERT_EQ(lines.at(first + 9), "");
  EXPECT_EQ(lines[first], "0,625,4,1,0,100,1,0");
  EXPECT_EQ(lines[first + 1], "20000,625,2,1,0,100,1,0");
  EXPECT_EQ(lines[first + 2], "21250,576.9230769230769,4,1,0,100,1,0");
  // A reader places every beat from its section's point: within half a millisecond.
  std::vector<std::vector<double>> sections;  // time, beat length, beats placed
  for (size_t k = first; k < first + 9; ++k) {
    const std::vector<std::string> fields = Split(lines[k], ',');
    sections.push_back({std::stod(fields[0]), std::stod(fields[1]), 0});
  }
  for (const Point& point : CsvPoints(Exported({}, "csv", kWholeMap))) {
    if (!point.IsBeat()) continue;
    std::vector<double>& section = sections.at(std::stoi(point.label) - 1);
    EXPECT_NEAR(section[0] + section[1] * section[2]++, point.seconds * 1000, 0.5) << point.label;
  }
  // A range lists the sections it holds points of, each timed from its first step;
  // so does an offset that leaves out the first two.
  const std::string later = Exported({}, "osu", {"48000", "12", "27", "2"});
  EXPECT_NE(later.find("[TimingPoints]\n21250,576.9230769230769,4,1,0,100,1,0\n58173,"),
            std::string::npos);
  EXPECT_NE(Exported({"--offset=-21"}, "osu", kWholeMap).find("[TimingPoints]\n250,576.9"),
            std::string::npos);
  Write("fast.map", "tmap\t120\t4\t1\ntmap\t10001\t4\t1\n");
  ExpectRefused(Run({"--format=osu", "fast.map", "out.osu"}),
                "Read 2 sections, 2 measures, 8 beats\n");
}

TEST_F(Placement, SscFileCountsQuarterNotesFromMeasureOne) {
  const std::string whole = Exported({}, "ssc", kWholeMap);
  EXPECT_EQ(whole,
            "#VERSION:0.83;\n#TITLE:shoreline;\n#MUSIC:audio.mp3;\n#OFFSET:0.000000;\n"
            "#BPMS:0.000000=96.000000,32.000000=96.000000,34.000000=104.000000,98.000000=104."
            "000000,104.000000=104.000000,168.000000=88.500000,192.000000=112.000000,288.000000="
            "112.000000,298.000000=112.000000;\n"
            "#TIMESIGNATURES:0.000000=4=4,32.000000=2=4,34.000000=4=4,98.000000=3=4,104.000000="
            "4=4,168.000000=6=4,192.000000=4=4,288.000000=5=4,298.000000=4=4;\n");
  // Through the section that holds the range's last measure; an offset moves beat 0.
  EXPECT_NE(Exported({"--offset=1.5"}, "ssc", {"48000", "3", "9"})
                .find("#OFFSET:-1.500000;\n#BPMS:0.000000=96.000000,32.000000=96.000000;\n"),
            std::string::npos);
  EXPECT_NE(Exported({"--offset=-0.25", "--audio=a b.ogg"}, "ssc", {"48000", "1", "8"})
                .find("#MUSIC:a b.ogg;\n#OFFSET:0.250000;\n#BPMS:0.000000=96.000000;\n"),
            std::string::npos);
  // The title is the map's name, with what would end a field put as '_'.
  Write("my;song.v2.map", "tmap\t120\t4\t1\n");
  map_ = "my;song.v2.map", summary_ = "Read 1 sections, 1 measures, 4 beats\n";
  EXPECT_EQ(Exported({}, "ssc", {}).substr(15, 22), "#TITLE:my_song.v2;\n#MU");
  Write("inf.map", "tmap\t120\t4\t1\ntmap\tinf\t4\t1\n");
  ExpectRefused(Run({"--format=ssc", "inf.map", "out.ssc"}),
                "Read 2 sections, 2 measures, 8 beats\n");
}

}  // namespace
