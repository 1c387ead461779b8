// The steps of a session at the console, shared by the interactive commands
// and the batch run: load a map and say what it held, decide the range,
// render the report and warn when it was cut, save it and say how that went.
#ifndef BEATSTAMPS_SESSION_H_
#define BEATSTAMPS_SESSION_H_

#include <cstdint>
#include <cstdio>

#include "base/failure.h"
#include "cli/console.h"
#include "cli/run_state.h"
#include "exports/export_options.h"
#include "files/output_file.h"
#include "grid/grid_walk.h"

// The map whose grid the state's report and exports show.
GridMap MapInForce(const RunState& state);
// Only while a MIDI map is in force.
const MidiMap& MidiMapInForce(const RunState& state);

// Reads the map file named `name` ("-": standard input) into the state and
// prints its summary line, or says why it could not; each problem of the map
// is named on standard error, and counted in `problems`. The after-load rule
// follows either way, but for a refused MIDI file, which changes nothing.
// False when the map was not read.
bool LoadMapNamed(Console& console, RunState& state, const char* name, int64_t& problems);

// For the export and check runs: reads the map file `name` ("-":
// `standardInput`), of any length the system takes, printing on `out` a line
// for each problem the reader meets, then the summary line; a file that
// cannot be read is named with the system's reason. `problems` counts the
// problem lines. The after-load rule follows either way. False when the map
// was not read.
bool LoadMapWithWarnings(FILE* out, FILE* standardInput, RunState& state, const char* name,
                         int64_t& problems);

// The sections of a fitted beat list, one line each: where each begins, its
// tempo and meter, and the largest error of its beats.
void PrintFittedSections(FILE* out, const FittedMap& fitted);

// A stored stop of measure 1 counts as none chosen: the report then runs to
// the end of the map (a MIDI map's last measure).
void ApplyAfterLoadRule(RunState& state);

// Asks for a map name and reads that map as LoadMapNamed does.
InputStatus LoadAskedMap(Console& console, RunState& state);

// Without a map an empty or inverted range falls back to measure 1; with a
// map loaded only the map's beat total decides.
void ApplyRangeGuard(RunState& state);

// Renders the report of the state's map and settings; on a value the walk
// cannot take, prints why and returns false.
bool RenderReport(Console& console, RunState& state);

// What a run is written with: the command line's options, and where the
// map in force puts measure 1 unless --offset says.
bool ResolveRunSettings(const ExportOptions& options, const RunState& state, const char* mapName,
                        ExportSettings& placed, Failure& failure);

// The same, with every step moved by `offsetSamples` (see BuildReportWithOffset).
bool RenderReportWithOffset(Console& console, RunState& state, int64_t offsetSamples);

// While the map has no sections, slot 0 is the single section that the
// walk covers, of as many measures as the stop measure asks for; it keeps
// that count afterwards.
void SizeDefaultSection(TempoMap& map, const GridSettings& settings);

// The warning after a report that was cut, and on `hints` (standard error)
// the export that holds the whole grid.
void PrintTruncationWarning(FILE* out, FILE* hints, const ReportText& report);

// --strict: a run with a warning about its map or its arguments ends before
// it writes anything; false, with the line, when it must.
bool StrictAllows(FILE* out, bool strict, int64_t warnings);

// The one line that tells how a save went.
void PrintSaveResult(FILE* out, const char* name, bool saved, uint64_t bytes);

// The save line of an export or a batch run: a failure's line names the
// system's reason.
void PrintSaveOutcome(FILE* out, bool saved, uint64_t bytes, const Failure& failure);

// Saves the rendered report to `state.outputFileName`, asking for the name
// unless `nameGiven` and one is set. False when it was not saved whole;
// `input` says whether standard input ended at the prompt.
bool SaveReport(Console& console, RunState& state, bool nameGiven, OutputMode mode,
                InputStatus& input);

#endif  // BEATSTAMPS_SESSION_H_
