// Map text: the input is a tempo map file's text. It is read into a fresh
// state, and the report of the settings it chose is rendered; where the walk
// is short enough, the report must match a plain step-by-step walk. Read
// again with its problems told and printed, it must read the same, and every
// problem must stand on a line of the text.
//
// Nothing here names a file, so map texts may hold any byte, '/' included.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cli/map_problems.h"
#include "cli/session.h"
#include "grid/renderer.h"
#include "maps/map_reader.h"
#include "reference_walk.h"
#include "scratch_folder.h"

namespace {

RunState state;  // too large for the stack of every input
FILE* discard = nullptr;

// Every problem line is printed, and must name a line of the text.
struct ProblemCheck {
  ProblemPrinter printer;
  int64_t lines;  // in the text the reader saw
};

// Longer walks are only checked for their memory use and time.
constexpr unsigned __int128 kMostReferenceSteps = 200000;

void Check(bool holds) {
  if (!holds) std::abort();
}

void CheckProblem(void* context, const MapProblem& problem) {
  auto& check = *static_cast<ProblemCheck*>(context);
  Check(problem.line >= 1 && problem.line <= check.lines);
  Check(problem.kind != MapProblemKind::kFieldOnLaterLine ||
        (problem.sourceLine > problem.line && problem.sourceLine <= check.lines));
  Check(problem.textLength >= 0 && (problem.textLength == 0 || problem.text != nullptr));
  PrintMapProblem(check.printer.out, check.printer.mapName, problem);
}

// Reads the text again with its problems told; the reading must not change.
void CheckToldReading(std::vector<char>& text, const MapReadout& untold) {
  const char* end = static_cast<const char*>(std::memchr(text.data(), '\0', text.size()));
  const size_t length = end == nullptr ? text.size() : static_cast<size_t>(end - text.data());
  ProblemCheck check{ProblemPrinter{discard, "fuzz.map", 0},
                     1 + std::count(text.data(), text.data() + length, '\n')};
  const MapDiagnostics diagnostics{&check, CheckProblem};
  FILE* file = fmemopen(text.data(), text.size(), "r");
  if (file == nullptr) std::abort();
  InitRunState(state);
  MapReadout told{state.map, state.settings, false, OffsetOption{}, SettingsLines{}, ""};
  Check(ParseMapText(file, told, &diagnostics));
  (void)std::fclose(file);
  const TempoMap& a = told.map;
  const TempoMap& b = untold.map;
  for (int32_t k = 0; k < kMaxSections; ++k) {
    // Bit for bit: a NaN tempo is read the same NaN.
    Check(std::bit_cast<uint32_t>(a.tempo[k]) == std::bit_cast<uint32_t>(b.tempo[k]));
    Check(a.beatsPerMeasure[k] == b.beatsPerMeasure[k] && a.measures[k] == b.measures[k]);
  }
  Check(a.sectionCount == b.sectionCount && a.totalMeasures == b.totalMeasures &&
        a.totalBeats == b.totalBeats && told.capped == untold.capped);
  const GridSettings& c = told.settings;
  const GridSettings& d = untold.settings;
  Check(c.sampleRate == d.sampleRate && c.divisionsPerBeat == d.divisionsPerBeat &&
        c.startMeasure == d.startMeasure && c.stopMeasure == d.stopMeasure);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  EnterScratchFolder();
  discard = std::fopen("/dev/null", "w");
  return discard == nullptr ? 1 : 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // fmemopen refuses an empty buffer; one zero byte is the same empty text.
  std::vector<char> text(data, data + size);
  if (text.empty()) text.push_back('\0');
  FILE* file = fmemopen(text.data(), text.size(), "r");
  if (file == nullptr) std::abort();

  InitRunState(state);
  MapReadout readout{state.map, state.settings, false, OffsetOption{}, SettingsLines{}, ""};
  const bool read = ParseMapText(file, readout);
  (void)std::fclose(file);
  Check(read);
  Check(readout.map.sectionCount >= 0 && readout.map.sectionCount <= kMaxReadSections);
  // Sections are only ever dropped once the table is full.
  Check(!readout.capped || readout.map.sectionCount == kMaxReadSections);
  CheckToldReading(text, readout);

  state.map = readout.map;
  state.settings = readout.settings;
  ApplyAfterLoadRule(state);

  const TempoMap before = state.map;
  const GridSettings& settings = state.settings;
  Failure failure{};
  SizeDefaultSection(state.map, settings);
  BuildReport(TextGrid(state.map), settings, state.report, failure);
  const ReportText& report = state.report;
  Check(report.length >= 0 && report.length <= kReportLimit);
  Check(report.text[report.length] == '\0');
  Check(std::strlen(report.text) == static_cast<size_t>(report.length));
  Check(failure.message.find('\0') == std::string::npos);

  if (StepsToWalk(before, settings.startMeasure, settings.stopMeasure, settings.divisionsPerBeat) >
      kMostReferenceSteps) {
    return 0;
  }
  TempoMap walked = before;
  const ReferenceReport expected = WalkEveryStep(walked, settings.sampleRate, settings.startMeasure,
                                                 settings.stopMeasure, settings.divisionsPerBeat);
  if (expected.text != report.text || expected.truncated != report.truncated ||
      expected.failure != failure.message || walked.measures[0] != state.map.measures[0]) {
    size_t at = 0;
    while (at < expected.text.size() && expected.text[at] == report.text[at]) ++at;
    std::fprintf(stderr, "report differs from the plain walk at byte %zu\n", at);
    std::fprintf(stderr, "expected: %.200s\nrendered: %.200s\nfailure: %s / %s\n",
                 expected.text.c_str() + at, report.text + at, expected.failure.c_str(),
                 failure.message.c_str());
    std::abort();
  }
  return 0;
}
