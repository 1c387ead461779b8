// Map text: the input is a tempo map file's text. It is read into a fresh
// state, and the report of the settings it chose is rendered; where the walk
// is short enough, the report must match a plain step-by-step walk.
//
// Nothing here names a file, so map texts may hold any byte, '/' included.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "map_reader.h"
#include "reference_walk.h"
#include "renderer.h"
#include "scratch_folder.h"
#include "session.h"

namespace {

RunState state;  // too large for the stack of every input

// Longer walks are only checked for their memory use and time.
constexpr unsigned __int128 kMostReferenceSteps = 200000;

void Check(bool holds) {
  if (!holds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  EnterScratchFolder();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // fmemopen refuses an empty buffer; one zero byte is the same empty text.
  std::vector<char> text(data, data + size);
  if (text.empty()) text.push_back('\0');
  FILE* file = fmemopen(text.data(), text.size(), "r");
  if (file == nullptr) std::abort();

  InitRunState(state);
  MapReadout readout{state.map, state.settings, false};
  const bool read = ParseMapText(file, readout);
  (void)std::fclose(file);
  Check(read);
  Check(readout.map.sectionCount >= 0 && readout.map.sectionCount <= kMaxReadSections);
  // Sections are only ever dropped once the table is full.
  Check(!readout.capped || readout.map.sectionCount == kMaxReadSections);

  state.map = readout.map;
  state.settings = readout.settings;
  ApplyAfterLoadRule(state);

  const TempoMap before = state.map;
  const GridSettings& settings = state.settings;
  Failure failure{};
  SizeDefaultSection(state.map, settings);
  Display(TextGrid(state.map), settings, state.report, failure);
  const ReportText& report = state.report;
  Check(report.length >= 0 && report.length <= kReportLimit);
  Check(report.text[report.length] == '\0');
  Check(std::strlen(report.text) == static_cast<size_t>(report.length));
  Check(std::memchr(failure.message, '\0', sizeof failure.message) != nullptr);

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
                 failure.message);
    std::abort();
  }
  return 0;
}
