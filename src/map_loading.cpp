#include "front_end.h"
#include "map_reader.h"

void ApplyAfterLoadRule(RunState& state) {
  if (state.stopMeasure == 0) state.stopMeasure = state.map.totalMeasures;
}

bool LoadMapArgument(Console& console, RunState& state, const char* name) {
  MapReadStatus status = MapReadStatus::kNameTooLong;
  if (StoreFileName(console, state.mapFileName, name)) {
    ReadMap(console, state, true, status);
  }
  ApplyAfterLoadRule(state);
  return status == MapReadStatus::kRead;
}

Next LoadMapCommand(Console& console, RunState& state) {
  MapReadStatus status = MapReadStatus::kRead;
  ReadMap(console, state, false, status);
  if (status == MapReadStatus::kInputEnded) return Next::kQuit;
  state.mapLoaded = true;
  ApplyAfterLoadRule(state);
  return Next::kGoOn;
}
