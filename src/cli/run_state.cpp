#include "cli/run_state.h"

void InitRunState(RunState& state) {
  state.settings = GridSettings{44100, 1, 0, 0, 1};
  state.mapFileName[0] = '\0';
  state.outputFileName[0] = '\0';
  state.mapLoaded = false;
  state.report.text[0] = '\0';
  state.report.length = 0;
  state.report.truncated = false;
  for (int32_t k = 0; k < kMaxSections; ++k) {
    state.map.tempo[k] = 120.0f;
    state.map.beatsPerMeasure[k] = 4;
    state.map.measures[k] = 0;
  }
  state.map.sectionCount = 0;
  state.map.totalMeasures = 0;
  state.map.totalBeats = 0;
  state.textMapInForce = true;
  state.stopAtMidiEnd = false;
  state.mapOffset = OffsetOption{false, false, 0.0, 0};
  state.fitOptions = DefaultFitOptions();
  state.mapLines = SettingsLines{false, false, false, false, state.settings};
  state.fitted.reset();
  state.midiBeat = MidiBeat::kNote;
  state.mapTitle[0] = '\0';
}
