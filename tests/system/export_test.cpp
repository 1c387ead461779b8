// Every export read back agrees with the report of the same run, point for
// point; and the options that choose them.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "program_runner.h"

namespace {

using Arguments = std::vector<std::string>;
const std::string kShoreline = std::string(BEATSTAMPS_EXAMPLES) + "/shoreline.map";
const std::string kSummary = "Read 9 sections, 81 measures, 330 beats\n";
const Arguments kWholeMap = {"48000", "1", "2147483647", "2"};
// Into a 3/4 section; MIDI ticks from the start of the map take three bytes.
const Arguments kMiddle = {"48000", "11", "27", "2"};

Arguments Join(Arguments head, const Arguments& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

struct Section {
  double tempo;
  int beats;
  long long measures;
};

// A grid point, numbered from 1 as the exports number it.
struct Step {
  int section;
  long long measure, beat, division;
  std::string time;  // "%.3f", as the report prints it
  double seconds;
  long long sample;
  std::string Label() const {
    return std::to_string(section) + "." + std::to_string(measure) + "." + std::to_string(beat) +
           "." + std::to_string(division);
  }
};

struct Report {
  std::vector<Section> sections;
  std::vector<Step> steps;
};

Report ParseReport(const std::string& text) {
  Report report;
  Step step{};
  for (const std::string& line : Split(text, '\n')) {
    Section s{};
    if (std::sscanf(line.c_str(), "Section %d\tTempo %lf\tBeats/Meas %d\tMeasures %lld",
                    &step.section, &s.tempo, &s.beats, &s.measures) == 4) {
      report.sections.push_back(s);
    }
    const std::vector<std::string> fields = Split(line, '\t');
    if (fields.size() != 4 || fields[3].find(" smp") == std::string::npos) continue;
    if (!fields[0].empty()) step.measure = std::stoll(fields[0].substr(2));
    if (!fields[1].empty()) step.beat = std::stoll(fields[1].substr(2)), step.division = 0;
    ++step.division;
    step.time = fields[2].substr(0, fields[2].find(' '));
    step.seconds = std::stod(step.time);
    step.sample = std::stoll(fields[3]);
    report.steps.push_back(step);
  }
  return report;
}

std::vector<Step> ParseCsv(const std::string& text) {
  std::vector<std::string> lines = Split(text, '\n');
  EXPECT_EQ(lines.at(0), "section,measure,beat,division,seconds,sample");
  std::vector<Step> steps;
  for (size_t k = 1; k < lines.size(); ++k) {
    const std::vector<std::string> f = Split(lines[k], ',');
    if (f.size() != 6) ADD_FAILURE() << lines[k];
    if (f.size() != 6) return steps;
    double seconds = 0;
    std::from_chars(f[4].data(), f[4].data() + f[4].size(), seconds);
    char shortest[64];
    *std::to_chars(shortest, shortest + sizeof shortest - 1, seconds).ptr = '\0';
    EXPECT_EQ(f[4], shortest) << "the shortest text that reads back as the same";
    steps.push_back(Step{std::stoi(f[0]), std::stoll(f[1]), std::stoll(f[2]), std::stoll(f[3]),
                         Fixed(seconds, 3), seconds, std::stoll(f[5])});
  }
  return steps;
}

// A Standard MIDI File read back; a meta event keeps its type in `data`[0].
struct MidiEvent {
  uint64_t tick;
  uint8_t status;
  std::string data;
};

struct Bytes {  // past the end: empty, and `at` beyond the size
  std::string data;
  uint64_t at = 0;
  std::string Take(uint64_t count) {
    at += count;
    return at <= data.size() ? data.substr(at - count, count) : "";
  }
  uint64_t Number(int bytes) {
    uint64_t value = 0;
    for (const unsigned char byte : Take(bytes)) value = value << 8 | byte;
    return value;
  }
  uint64_t Delta() {  // seven bits a byte, the last one's top bit clear
    uint64_t value = 0, byte = 0x80;
    while (byte >= 0x80 && at < data.size()) value = value << 7 | ((byte = Number(1)) & 0x7F);
    return value;
  }
};

// Gives format, track count and ticks per quarter; fills `tracks`.
std::vector<uint64_t> ParseMidi(const std::string& data,
                                std::vector<std::vector<MidiEvent>>& tracks) {
  Bytes file{data};
  EXPECT_EQ(file.Take(4), "MThd");
  EXPECT_EQ(file.Number(4), 6u);
  const std::vector<uint64_t> header{file.Number(2), file.Number(2), file.Number(2)};
  for (uint64_t t = 0; t < header[1] && file.at < data.size(); ++t) {
    EXPECT_EQ(file.Take(4), "MTrk");
    Bytes track{file.Take(file.Number(4))};
    std::vector<MidiEvent>& events = tracks.emplace_back();
    for (uint64_t tick = 0; track.at < track.data.size();) {
      tick += track.Delta();
      const auto status = static_cast<uint8_t>(track.Number(1));
      EXPECT_TRUE(status == 0xFF || (status & 0xE0) == 0x80) << "only notes, not " << int{status};
      std::string data = track.Take(status == 0xFF ? 1 : 2);  // a meta event's type first
      if (status == 0xFF) data += track.Take(track.Delta());
      events.push_back({tick, status, data});
    }
    EXPECT_EQ(track.at, track.data.size()) << "track " << t << " is cut short";
    EXPECT_TRUE(!events.empty() && events.back().data == std::string{0x2F}) << "end of track";
  }
  EXPECT_EQ(file.at, data.size());
  return header;
}

class Exports : public SystemTest {
 protected:
  std::string map_ = kShoreline, summary_ = kSummary;
  Report ReportOf(const Arguments& settings) {
    std::remove(Path("grid.txt").c_str());  // the batch run appends
    EXPECT_EQ(RunCapturingErrors(Join({map_, "grid.txt"}, settings)).status, 0);
    return ParseReport(Read("grid.txt"));
  }
  std::string Exported(const std::string& format, const Arguments& settings) {
    const ProgramRun run = Run(Join({"--format=" + format, map_, "out." + format}, settings));
    const std::string data = Read("out." + format);
    EXPECT_EQ(run.output,
              Banner() + summary_ + "Saved " + std::to_string(data.size()) + " bytes\n");
    EXPECT_EQ(run.status, 0);
    return data;
  }
  void ExpectCsvMatchesReport(const Arguments& settings, size_t points) {
    const std::vector<Step> steps = ReportOf(settings).steps;
    const std::vector<Step> csv = ParseCsv(Exported("csv", settings));
    ASSERT_EQ(steps.size(), points);
    ASSERT_EQ(csv.size(), points);
    for (size_t k = 0; k < points; ++k) {
      EXPECT_EQ(csv[k].Label(), steps[k].Label()) << "line " << k + 2;
      EXPECT_EQ(csv[k].time + " " + std::to_string(csv[k].sample),
                steps[k].time + " " + std::to_string(steps[k].sample))
          << steps[k].Label();
    }
  }
  void ExpectMidiMatchesReport(const Arguments& settings) {
    const std::vector<Section> sections = ReportOf(kWholeMap).sections;
    const std::vector<Step> steps = ReportOf(settings).steps;
    const std::vector<Step> exact = ParseCsv(Exported("csv", settings));
    ASSERT_EQ(exact.size(), steps.size());
    std::vector<std::vector<MidiEvent>> tracks;
    const std::vector<uint64_t> header = ParseMidi(Exported("midi", settings), tracks);
    ASSERT_EQ(header[0], 1u) << "format";
    ASSERT_EQ(tracks.size(), 2u);
    const uint64_t divisions = std::stoull(settings[3]), tpq = header[2];
    EXPECT_TRUE(tpq % divisions == 0 && tpq >= 480 && tpq - 480 < divisions) << tpq;
    // A meter and a tempo where each section of the whole map begins; between
    // them, tempos only where the rounding carried from beat to beat changes,
    // never more than a microsecond a beat from the section's tempo rounded.
    std::vector<MidiEvent> tempoMap, meters;
    std::copy_if(tracks[0].begin(), tracks[0].end(), std::back_inserter(tempoMap),
                 [](const MidiEvent& e) { return e.data[0] == 0x58 || e.data[0] == 0x51; });
    std::copy_if(tempoMap.begin(), tempoMap.end(), std::back_inserter(meters),
                 [](const MidiEvent& e) { return e.data[0] == 0x58; });
    ASSERT_EQ(meters.size(), sections.size());
    uint64_t tick = 0;
    size_t event = 0;
    for (size_t k = 0; k < sections.size(); ++k) {
      while (event < tempoMap.size() && tempoMap[event].data[0] != 0x58) ++event;
      ASSERT_LT(event + 1, tempoMap.size());
      const MidiEvent &meter = tempoMap[event], &tempo = tempoMap[event + 1];
      EXPECT_TRUE(meter.tick == tick && tempo.tick == tick) << "section " << k + 1;
      // Beats over a quarter note, a metronome click a quarter, eight 32nds a quarter.
      EXPECT_EQ(meter.data, (std::string{0x58, char(sections[k].beats), 2, 24, 8}));
      const uint64_t end = tick + sections[k].measures * sections[k].beats * tpq;
      const auto rounded = static_cast<int64_t>(std::llround(60e6 / sections[k].tempo));
      for (++event; event < tempoMap.size() && tempoMap[event].tick < end; ++event) {
        EXPECT_EQ(tempoMap[event].data[0], 0x51);
        EXPECT_LE(std::abs(static_cast<int64_t>(Bytes{tempoMap[event].data.substr(1)}.Number(3)) -
                           rounded),
                  1)
            << "section " << k + 1;
      }
      tick = end;
    }
    auto secondsAt = [&](uint64_t at) {
      double seconds = 0, microseconds = 500000;
      uint64_t from = 0;
      for (const MidiEvent& event : tempoMap) {
        if (event.data[0] != 0x51 || event.tick > at) continue;
        seconds += (event.tick - from) * microseconds / tpq / 1e6;
        from = event.tick, microseconds = Bytes{event.data.substr(1)}.Number(3);
      }
      return seconds + (at - from) * microseconds / tpq / 1e6;
    };
    // A note on at every grid point, its note off half a division later.
    const std::vector<MidiEvent>& clicks = tracks[1];
    size_t point = 0;
    for (size_t k = 0; k + 1 < clicks.size(); ++k) {
      if (clicks[k].status != 0x99 || clicks[k].data[1] == 0) continue;
      ASSERT_LT(point, steps.size());
      const Step& step = steps[point++];
      // Within a microsecond of the report's own time, which the CSV export holds whole.
      EXPECT_NEAR(secondsAt(clicks[k].tick), exact[point - 1].seconds, 1e-6) << step.Label();
      const std::string click = step.division > 1 ? std::string{77, 55}
                                : step.beat == 1  ? std::string{76, 127}
                                                  : std::string{77, 100};
      EXPECT_EQ(clicks[k].data, click) << step.Label();
      const MidiEvent& off = clicks[k + 1];
      EXPECT_TRUE(off.status == 0x89 || (off.status == 0x99 && off.data[1] == 0));
      EXPECT_EQ(off.data[0], click[0]);
      EXPECT_EQ(off.tick - clicks[k].tick, std::max<uint64_t>(1, tpq / divisions / 2));
    }
    EXPECT_EQ(point, steps.size());
  }
};

TEST_F(Exports, CsvLinesAreTheReportsSteps) {
  ExpectCsvMatchesReport(kWholeMap, 660);
  ExpectCsvMatchesReport(kMiddle, 132);
}

TEST_F(Exports, LabelsAreTheReportsStepsToTheMicrosecond) {
  const std::vector<Step> steps = ReportOf(kWholeMap).steps;
  const std::vector<Step> csv = ParseCsv(Exported("csv", kWholeMap));
  const std::vector<std::string> lines = Split(Exported("labels", kWholeMap), '\n');
  ASSERT_EQ(lines.size(), steps.size());
  ASSERT_EQ(csv.size(), steps.size());
  for (size_t k = 0; k < lines.size(); ++k) {
    const std::vector<std::string> f = Split(lines[k], '\t');
    ASSERT_EQ(f.size(), 3u) << lines[k];
    const std::string label =
        std::to_string(steps[k].measure) + "." + std::to_string(steps[k].beat);
    EXPECT_EQ(f[2],
              steps[k].division == 1 ? label : label + "." + std::to_string(steps[k].division));
    EXPECT_NEAR(std::stod(f[0]), steps[k].seconds, 0.0005 + 1e-6) << lines[k];
    EXPECT_EQ(f[0] + "\t" + f[1], Fixed(csv[k].seconds, 6) + "\t" + Fixed(csv[k].seconds, 6));
  }
}

TEST_F(Exports, MidiClicksSoundAtTheReportsTimes) {
  ExpectMidiMatchesReport(kWholeMap);
  ExpectMidiMatchesReport(kMiddle);
  ExpectMidiMatchesReport({"48000", "11", "27", "7"});  // 483 ticks per quarter
  // Tempos whose microseconds round up; a tick for each of 481 divisions.
  Write("song.map", "tmap\t70\t3\t2\ntmap\t133\t5\t1\n");
  map_ = "song.map", summary_ = "Read 2 sections, 3 measures, 11 beats\n";
  ExpectMidiMatchesReport({"44100", "3", "3", "481"});
  // Measures of one beat: a downbeat after a downbeat, the last click one too.
  Write("march.map", "tmap\t90\t1\t5\ntmap\t120\t3\t2\ntmap\t100\t1\t3\n");
  map_ = "march.map", summary_ = "Read 3 sections, 10 measures, 14 beats\n";
  ExpectMidiMatchesReport({"48000", "1", "10", "1"});
  // A first click 268,435,200 ticks in takes a four-byte delta; a measure on, too far.
  Write("deep.map", "tmap\t120\t4\t139812\n");
  map_ = "deep.map", summary_ = "Read 1 sections, 139812 measures, 559248 beats\n";
  ExpectMidiMatchesReport({"44100", "139811", "139811", "1"});
  ExpectRefused(
      RunCapturingErrors({"--format=midi", "deep.map", "deep.mid", "44100", "139812", "139812"}),
      summary_);
  EXPECT_FALSE(Exists("deep.mid"));
}

TEST_F(Exports, OptionsStandardOutputAndRefusals) {
  ProgramRun run = RunCapturingErrors({"--help"});
  EXPECT_EQ(run.output.rfind("Usage:", 0), 0u);
  for (const std::string format : {"grid", "labels", "csv", "midi", "click"}) {
    EXPECT_NE(run.output.find("--format=" + format), std::string::npos) << format;
  }
  EXPECT_EQ(run.errors, "");
  EXPECT_EQ(run.status, 0);
  run = Run({"--version"});
  EXPECT_EQ(run.output, Banner());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Run({"--x", kShoreline, "out.txt"}).output,
            "Error: Unknown option --x! (see beatstamps1a --help)\n");
  run = Run({"--format=x", kShoreline, "out.txt"});
  EXPECT_EQ(run.output, "Error: Unknown format x! (see beatstamps1a --help)\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Run({"--", "--x", "out.txt"}).output, Banner() + "File not found!\n");
  EXPECT_FALSE(Exists("out.txt"));
  // The format may follow --format as a word of its own.
  EXPECT_EQ(Run(Join({"--format", "csv", kShoreline, "two.csv"}, kMiddle)).status, 0);
  EXPECT_EQ(Read("two.csv"), Exported("csv", kMiddle));
  // After "--" and with --format=grid, the plain batch run: appended.
  Arguments arguments{kShoreline, "plain.txt", "44100", "9", "12", "3"};
  const ProgramRun plain = Run(arguments);
  const std::string report = Read("plain.txt");
  EXPECT_EQ(Run(Join({"--"}, arguments)).output, plain.output);
  EXPECT_EQ(Run(Join({"--format=grid"}, arguments)).output, plain.output);
  EXPECT_EQ(Read("plain.txt"), report + report + report);
  // OUT -: the data alone on standard output, every message on standard error.
  run = RunCapturingErrors(Join({"--format=csv", kShoreline, "-"}, kWholeMap));
  EXPECT_EQ(run.output, Exported("csv", kWholeMap));
  EXPECT_EQ(run.errors,
            Banner() + kSummary + "Saved " + std::to_string(run.output.size()) + " bytes\n");
  run = RunCapturingErrors({"--format=labels", "nowhere.map", "-"});
  EXPECT_EQ(run.errors, Banner() + "Error: Cannot read nowhere.map: No such file or directory!\n");
  EXPECT_EQ(run.output, "");
  // One grid point too many is refused before anything is written; the count is the range's.
  Write("long.map", "tmap\t120\t1\t16777217\n");
  Write("kept.csv", "kept\n");
  LimitFileSize(1 << 20);  // should the refusal fail, the run ends soon
  for (const char* out : {"kept.csv", "new.csv"}) {
    ExpectRefused(Run({"--format=csv", "long.map", out}),
                  "Read 1 sections, 16777217 measures, 16777217 beats\n");
  }
  LimitFileSize(-1);
  EXPECT_EQ(RunInto({"--format=csv", "long.map", "-"}, "", "/dev/null"), 1);
  EXPECT_EQ(Read("kept.csv"), "kept\n");
  EXPECT_EQ(Run({"--format=csv", "long.map", "last.csv", "8000", "16777217", "16777217"}).status,
            0);
  EXPECT_EQ(Read("last.csv").substr(45), "1,16777217,1,1,8388608,67108864000\n");
  // Exactly as many as an export holds.
  EXPECT_EQ(RunInto({"--format=midi", "long.map", "-", "8000", "2", "16777217"}, "", "/dev/null"),
            0);
  // An export replaces a longer file whole, and leaves no temporary file behind.
  Write("kept.csv", std::string(100000, 'x'));
  EXPECT_EQ(Run(Join({"--format=csv", kShoreline, "kept.csv"}, kMiddle)).status, 0);
  EXPECT_EQ(Read("kept.csv"), Exported("csv", kMiddle));
  EXPECT_EQ(Listing(),
            (Arguments{"kept.csv", "last.csv", "long.map", "out.csv", "plain.txt", "two.csv"}));
}

}  // namespace
