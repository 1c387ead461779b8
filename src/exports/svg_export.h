// The grid as a picture: one SVG file at a fixed scale, time along the top
// in seconds, the recording's waveform when there is one, a line at every
// bar line with its measure number and a fainter one at every beat, each
// section's start labelled with its tempo and meter, and the beats a fitted
// map was made from, coloured by how far each lies from the grid.
#ifndef BEATSTAMPS_SVG_EXPORT_H_
#define BEATSTAMPS_SVG_EXPORT_H_

#include <cstdint>

#include "exports/export_options.h"
#include "exports/export_sink.h"
#include "grid/grid_walk.h"

struct SvgPlan {
  double viewStart;  // seconds at the left edge of the plot, a whole second
  double viewEnd;    // seconds at its right edge
  // The recording whose waveform is drawn: MAP when it is one, else the
  // --audio file when it can be read; null for the grid alone.
  const char* recording;
  double peak;  // the recording's largest sample magnitude, drawn at full height
};

// Finds the range's first and last times and the recording to draw, or
// refuses a range that holds no point or a picture wider than a reader draws.
bool PlanSvg(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
             SvgPlan& plan, Failure& failure);

// Walks the recording once for its waveform, then the grid once for its
// lines and the fitted beats: in fixed memory, whatever their lengths.
void WriteSvg(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
              const SvgPlan& plan, ExportSink& sink);

// Where the picture draws a time: pixels from its left edge.
double SvgColumn(const SvgPlan& plan, int32_t zoom, double seconds);

#endif  // BEATSTAMPS_SVG_EXPORT_H_
