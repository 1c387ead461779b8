// The grid renderer: walks the tempo map and builds the report text.
#ifndef BEATSTAMPS_RENDERER_H_
#define BEATSTAMPS_RENDERER_H_

#include <cstdint>

#include "grid_walk.h"
#include "run_state.h"

// Builds the beat grid of measures `startMeasure` to `stopMeasure` (0-based,
// inclusive) into `report`. With no map sections, slot 0 becomes a single
// section of `stopMeasure` + 1 measures and keeps that count afterwards.
void Display(TempoMap& map, uint32_t sampleRate, int32_t startMeasure, int32_t stopMeasure,
             int32_t divisionsPerBeat, ReportText& report, RenderFailure& failure);

#endif  // BEATSTAMPS_RENDERER_H_
