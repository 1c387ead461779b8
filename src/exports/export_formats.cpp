#include "exports/export_formats.h"

#include <cstring>

#include "exports/beats_export.h"
#include "exports/csv_export.h"
#include "exports/labels_export.h"
#include "exports/map_export.h"
#include "exports/ssc_export.h"

namespace {

void WriteLabelTrack(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                     const ExportPlan& /*plan*/, ExportSink& sink) {
  WriteLabels(map, settings, placed, sink);
}

void WriteCsvFile(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                  const ExportPlan& /*plan*/, ExportSink& sink) {
  WriteCsv(map, settings, placed, sink);
}

bool PlanMidiFile(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                  ExportPlan& plan, Failure& failure) {
  return PlanMidi(map, settings, placed, plan.midi, failure);
}

void WriteMidiFile(const GridMap& map, const GridSettings& settings,
                   const ExportSettings& /*placed*/, const ExportPlan& plan, ExportSink& sink) {
  WriteMidi(map, settings, plan.midi, sink);
}

bool PlanClickFile(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                   ExportPlan& plan, Failure& failure) {
  return PlanClickTrack(map, settings, placed, plan.click, failure);
}

void WriteClickFile(const GridMap& map, const GridSettings& settings,
                    const ExportSettings& /*placed*/, const ExportPlan& plan, ExportSink& sink) {
  WriteClickTrack(map, settings, plan.click, sink);
}

void WriteBeatsFile(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                    const ExportPlan& /*plan*/, ExportSink& sink) {
  WriteBeats(map, settings, placed, sink);
}

bool PlanOsuFile(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                 ExportPlan& /*plan*/, Failure& failure) {
  return PlanOsu(map, settings, placed, failure);
}

void WriteOsuFile(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                  const ExportPlan& /*plan*/, ExportSink& sink) {
  WriteOsu(map, settings, placed, sink);
}

bool PlanSscFile(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                 ExportPlan& /*plan*/, Failure& failure) {
  return PlanSsc(map, settings, placed, failure);
}

void WriteSscFile(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                  const ExportPlan& /*plan*/, ExportSink& sink) {
  WriteSsc(map, settings, placed, sink);
}

bool PlanSvgFile(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                 ExportPlan& plan, Failure& failure) {
  return PlanSvg(map, settings, placed, plan.svg, failure);
}

void WriteSvgFile(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                  const ExportPlan& plan, ExportSink& sink) {
  WriteSvg(map, settings, placed, plan.svg, sink);
}

bool PlanMapFile(const GridMap& map, const GridSettings& settings, const ExportSettings& /*placed*/,
                 ExportPlan& /*plan*/, Failure& failure) {
  return PlanMapText(map, settings, failure);
}

void WriteMapFile(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
                  const ExportPlan& /*plan*/, ExportSink& sink) {
  WriteMapText(map, settings, placed, sink);
}

constexpr ExportFormat kFormats[] = {
    {"grid", "the report, appended to OUT, as without --format",
     "beatstamps1a --format=grid song.map grid.txt", nullptr, nullptr},
    {"labels", "a label track for audio editors: time, time, M.B or M.B.D",
     "beatstamps1a --format=labels song.map labels.txt", nullptr, WriteLabelTrack},
    {"csv", "section,measure,beat,division,seconds,sample",
     "beatstamps1a --format=csv song.map grid.csv 48000", nullptr, WriteCsvFile},
    {"midi", "a MIDI file: the tempo map and a click at every grid point",
     "beatstamps1a --format=midi song.map song.mid 44100 1 32 2", PlanMidiFile, WriteMidiFile},
    {"click", "a WAV click track at RATE that lines up with the recording",
     "beatstamps1a --format=click song.map click.wav 48000", PlanClickFile, WriteClickFile},
    {"beats", "beat annotations: seconds, tab, the beat's number in its measure",
     "beatstamps1a --format=beats song.map song.beats", nullptr, WriteBeatsFile},
    {"osu", "an osu! beatmap: timing points where the sections' beats begin",
     "beatstamps1a --audio=song.mp3 --format=osu song.map song.osu", PlanOsuFile, WriteOsuFile},
    {"ssc", "a StepMania song: tempos and meters in beats from measure 1",
     "beatstamps1a --audio=song.ogg --format=ssc song.map song.ssc", PlanSscFile, WriteSscFile},
    {"map", "the map in use as a text map: title, offset, tmap lines",
     "beatstamps1a --format=map taps.txt song.map", PlanMapFile, WriteMapFile},
    {"svg", "a picture: the grid over the recording's waveform, --zoom pixels a second",
     "beatstamps1a --audio=song.wav --format=svg song.map song.svg", PlanSvgFile, WriteSvgFile},
};

}  // namespace

const ExportFormat* FindExportFormat(const char* name) {
  for (const ExportFormat& format : kFormats) {
    if (std::strcmp(name, format.name) == 0) return &format;
  }
  return nullptr;
}

const ExportFormat* ExportFormatAt(int index) {
  constexpr int kCount = sizeof kFormats / sizeof kFormats[0];
  return index >= 0 && index < kCount ? &kFormats[index] : nullptr;
}
