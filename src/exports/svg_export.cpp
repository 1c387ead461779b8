#include "exports/svg_export.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "exports/text_line.h"
#include "grid/shifted_walk.h"
#include "maps/sound_file.h"
#include "maps/sound_signature.h"

namespace {

// The picture's rows, in pixels from its top.
constexpr double kLeftMargin = 20.0;
constexpr double kRightMargin = 40.0;  // room for the last time label
constexpr double kTickBottom = 6.0;
constexpr double kTimeRow = 18.0;
constexpr double kLinesTop = 24.0;
constexpr double kSectionRow = 36.0;
constexpr double kMeasureRow = 50.0;
constexpr double kWaveTop = 60.0;
constexpr double kWaveHeight = 160.0;
constexpr double kMarkRow = 232.0;
constexpr double kHeight = 250.0;  // the lines reach the bottom alone
// Browsers draw pictures of up to about this many pixels across.
constexpr double kMostWidth = 16777216.0;
// Time labels stand at least this far apart.
constexpr double kLeastLabelSpacing = 60.0;
// A fitted beat this close to the grid is on it; farther than the second,
// well off it.
constexpr double kNearSeconds = 0.010;
constexpr double kOffSeconds = 0.035;
// Frames of the recording decoded at once.
constexpr int64_t kWaveBlock = 8192;

constexpr const char* kStyle =
    "<style>\n"
    "text{font-family:sans-serif;font-size:11px;fill:#222}\n"
    ".time{stroke:#222;stroke-width:1}\n"
    ".wave{fill:none;stroke:#8aa9d6;stroke-width:1}\n"
    ".bar{stroke:#000;stroke-width:1}\n"
    ".beat{stroke:#000;stroke-width:1;stroke-opacity:0.22}\n"
    ".section{font-weight:bold}\n"
    ".near{fill:#1a9e3a}\n"
    ".off{fill:#e69500}\n"
    ".far{fill:#d62020}\n"
    ".left-out{stroke:#777;stroke-width:1.5;fill:none}\n"
    "</style>\n";

void Add(TextLine& line, const char* text) {
  AddText(line, text, std::strlen(text));
}

void AddNumber(TextLine& line, double value) {
  AddFixed(line, value, 3);
}

// Text for an element: the characters XML reserves escaped, control
// characters left out.
void PutEscaped(ExportSink& sink, const char* text) {
  for (; *text != '\0'; ++text) {
    const char character = *text;
    const char* entity = character == '&'   ? "&amp;"
                         : character == '<' ? "&lt;"
                         : character == '>' ? "&gt;"
                                            : nullptr;
    if (entity != nullptr) {
      PutText(sink, entity);
    } else if (static_cast<unsigned char>(character) >= 0x20) {
      PutByte(sink, static_cast<uint8_t>(character));
    }
  }
}

// A whole number of seconds between time labels: the least of 1, 2, 5, 10,
// 20, 50... that keeps them apart.
double TimeLabelStep(int32_t zoom) {
  double step = 1.0;
  for (int k = 0; step * zoom < kLeastLabelSpacing; ++k) step *= (k % 3 == 1) ? 2.5 : 2.0;
  return step;
}

struct TimeSpan {
  bool found;
  double first;
  double last;
};

bool RememberTime(void* context, const GridPoint& point) {
  TimeSpan& span = *static_cast<TimeSpan*>(context);
  if (!span.found) span.first = point.clock;
  span.found = true;
  span.last = point.clock;
  return true;
}

// The largest sample magnitude of the recording mixed to one channel, so
// that a quiet recording fills the waveform's height too; 0 when it cannot
// be read through.
double MeasurePeak(const char* name) {
  SoundStreamHandle stream;
  SoundInfo info{};
  Failure failure;
  if (!OpenSoundStream(name, stream, info, failure)) return 0.0;
  auto block = std::make_unique<float[]>(kWaveBlock);
  double peak = 0.0;
  int64_t read = kWaveBlock;
  while (read == kWaveBlock) {
    if (!ReadMonoFrames(*stream, block.get(), kWaveBlock, read, failure)) return 0.0;
    for (int64_t k = 0; k < read; ++k) peak = std::max(peak, std::fabs(double{block[k]}));
  }
  return peak;
}

// MAP itself when it is a recording, else the --audio file when it is one
// this build reads.
const char* RecordingToDraw(const ExportSettings& placed) {
  const char* names[] = {placed.mapName, placed.audioGiven ? placed.audioName : nullptr};
  for (const char* name : names) {
    if (name == nullptr) continue;
    FILE* file = std::fopen(name, "rb");
    if (file == nullptr) continue;
    const bool sound = StartsAsSoundFile(file);
    (void)std::fclose(file);  // read only
    SoundStreamHandle stream;
    SoundInfo info{};
    Failure ignored;
    if (sound && OpenSoundStream(name, stream, info, ignored)) return name;
  }
  return nullptr;
}

void PutHeader(ExportSink& sink, const ExportSettings& placed, double width) {
  TextLine line;
  line.length = 0;
  Add(line,
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\"");
  Add(line, " width=\"");
  AddNumber(line, width);
  Add(line, "\" height=\"");
  AddNumber(line, kHeight);
  Add(line, "\" viewBox=\"0 0 ");
  AddNumber(line, width);
  AddCharacter(line, ' ');
  AddNumber(line, kHeight);
  Add(line, "\">\n<title>");
  PutLine(sink, line);
  PutEscaped(sink, placed.mapName);
  Add(line, "</title>\n");
  PutLine(sink, line);
  PutBytes(sink, kStyle, std::strlen(kStyle));
  Add(line, "<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>\n");
  PutLine(sink, line);
}

void PutTimeAxis(ExportSink& sink, const SvgPlan& plan, int32_t zoom) {
  const double step = TimeLabelStep(zoom);
  TextLine line;
  line.length = 0;
  for (int64_t label = 0;; ++label) {
    const double seconds = plan.viewStart + static_cast<double>(label) * step;
    if (seconds > plan.viewEnd) return;
    const double x = SvgColumn(plan, zoom, seconds);
    Add(line, "<line class=\"time\" x1=\"");
    AddNumber(line, x);
    Add(line, "\" y1=\"0\" x2=\"");
    AddNumber(line, x);
    Add(line, "\" y2=\"");
    AddNumber(line, kTickBottom);
    Add(line, "\"/><text x=\"");
    AddNumber(line, x + 2.0);
    Add(line, "\" y=\"");
    AddNumber(line, kTimeRow);
    Add(line, "\">");
    AddShortest(line, seconds);
    Add(line, " s</text>\n");
    if (!PutLine(sink, line)) return;
  }
}

// One column of the waveform: the lowest and highest sample drawn in it.
struct WaveColumn {
  int64_t column;  // -1 before the first
  float low;
  float high;
};

// One path of the waveform holds this many columns: a renderer strokes
// many short paths far faster than one long path of many pieces.
constexpr int64_t kColumnsPerPath = 64;

// The waveform so far: its column being gathered and the columns written.
struct Waveform {
  WaveColumn column;
  int64_t written;
  double peak;
};

void PutWaveColumn(TextLine& line, Waveform& wave) {
  if (wave.written % kColumnsPerPath == 0) {
    if (wave.written > 0) Add(line, "\"/>\n");
    Add(line, "<path class=\"wave\" d=\"");
  }
  ++wave.written;
  const double middle = kWaveTop + kWaveHeight / 2.0;
  const double half = kWaveHeight / 2.0 / wave.peak;
  const WaveColumn& column = wave.column;
  AddCharacter(line, 'M');
  AddNumber(line, static_cast<double>(column.column) + 0.5);
  AddCharacter(line, ' ');
  AddNumber(line,
            middle - std::clamp(static_cast<double>(column.high), -wave.peak, wave.peak) * half);
  AddCharacter(line, 'V');
  // At least a pixel, so that silence shows as a line.
  AddNumber(
      line,
      middle - std::clamp(static_cast<double>(column.low), -wave.peak, wave.peak) * half + 0.5);
}

// The recording mixed to one channel, its lowest and highest sample in each
// pixel column: decoded a block at a time, each column written when passed.
void PutWaveform(ExportSink& sink, const SvgPlan& plan, int32_t zoom) {
  SoundStreamHandle stream;
  SoundInfo info{};
  Failure failure;
  if (!OpenSoundStream(plan.recording, stream, info, failure)) return;
  auto block = std::make_unique<float[]>(kWaveBlock);
  TextLine line;
  line.length = 0;
  const double lastColumn = SvgColumn(plan, zoom, plan.viewEnd);
  Waveform wave{WaveColumn{-1, 0.0F, 0.0F}, 0, plan.peak};
  int64_t frame = 0;
  int64_t read = kWaveBlock;
  while (read == kWaveBlock && ReadMonoFrames(*stream, block.get(), kWaveBlock, read, failure)) {
    for (int64_t k = 0; k < read; ++k, ++frame) {
      const double seconds = static_cast<double>(frame) / info.sampleRate;
      const double x = SvgColumn(plan, zoom, seconds);
      if (x < kLeftMargin || x >= lastColumn) continue;
      const auto at = static_cast<int64_t>(x);
      if (at != wave.column.column) {
        if (wave.column.column >= 0) PutWaveColumn(line, wave);
        if (line.length > kTextLineCapacity / 2 && !PutLine(sink, line)) return;
        wave.column = WaveColumn{at, block[k], block[k]};
      }
      wave.column.low = std::min(wave.column.low, block[k]);
      wave.column.high = std::max(wave.column.high, block[k]);
    }
  }
  if (wave.column.column >= 0) PutWaveColumn(line, wave);
  if (wave.written > 0) Add(line, "\"/>\n");
  PutLine(sink, line);
}

// The grid walk's state: where the walk is, and the fitted beats not drawn yet.
struct GridDrawing {
  ExportSink* sink;
  const GridMap* map;
  const SvgPlan* plan;
  int32_t zoom;
  const BeatMarks* marks;
  int64_t nextMark;
  bool anyBeat;
  double lastBeat;  // the grid's last beat so far
  int32_t section;  // of the last point drawn; -1 before the first
  TextLine line;
  int32_t firstMeasureNumber;  // the number measure index 0 is shown with
};

void PutVerticalLine(TextLine& line, const char* kind, double x) {
  Add(line, "<line class=\"");
  Add(line, kind);
  Add(line, "\" x1=\"");
  AddNumber(line, x);
  Add(line, "\" y1=\"");
  AddNumber(line, kLinesTop);
  Add(line, "\" x2=\"");
  AddNumber(line, x);
  Add(line, "\" y2=\"");
  AddNumber(line, kHeight);
  Add(line, "\"/>\n");
}

void PutLabel(TextLine& line, const char* kind, double x, double y) {
  Add(line, "<text class=\"");
  Add(line, kind);
  Add(line, "\" x=\"");
  AddNumber(line, x + 3.0);
  Add(line, "\" y=\"");
  AddNumber(line, y);
  Add(line, "\">");
}

void PutSectionLabel(GridDrawing& drawing, const GridPoint& point, double x) {
  const SectionHeading heading = HeadingOf(*drawing.map, point.section);
  TextLine& line = drawing.line;
  PutLabel(line, "section", x, kSectionRow);
  char text[96];
  std::snprintf(text, sizeof text, "Tempo %.3f  Beats/Meas %i", heading.tempo,
                heading.beatsPerMeasure);
  Add(line, text);
  Add(line, "</text>\n");
}

// A fitted beat: a dot coloured by its distance from the grid's nearest beat,
// or a cross where the fit left it out.
void PutMark(GridDrawing& drawing, double seconds, double distance, bool leftOut) {
  const double x = SvgColumn(*drawing.plan, drawing.zoom, seconds);
  if (x < kLeftMargin || x > SvgColumn(*drawing.plan, drawing.zoom, drawing.plan->viewEnd)) return;
  TextLine& line = drawing.line;
  if (leftOut) {
    Add(line, "<path class=\"left-out\" d=\"M");
    AddNumber(line, x - 3.0);
    AddCharacter(line, ' ');
    AddNumber(line, kMarkRow - 3.0);
    Add(line, "l6 6m0 -6l-6 6\">");
  } else {
    const double far = std::fabs(distance);
    Add(line, "<circle class=\"");
    Add(line, far <= kNearSeconds ? "near" : far <= kOffSeconds ? "off" : "far");
    Add(line, "\" cx=\"");
    AddNumber(line, x);
    Add(line, "\" cy=\"");
    AddNumber(line, kMarkRow);
    Add(line, "\" r=\"3\">");
  }
  Add(line, "<title>");
  AddFixed(line, seconds, 3);
  Add(line, leftOut ? " s, left out" : " s, ");
  if (!leftOut) {
    AddFixed(line, distance * 1000.0, 1);
    Add(line, " ms from the grid");
  }
  Add(line, leftOut ? "</title></path>\n" : "</title></circle>\n");
  PutLine(*drawing.sink, line);
}

// The fitted beats before the grid beat at `beat` seconds (all that are
// left when `beat` is null), each measured from the nearer grid beat.
void PutMarksBefore(GridDrawing& drawing, const double* beat) {
  const BeatMarks& marks = *drawing.marks;
  for (; drawing.nextMark < marks.count; ++drawing.nextMark) {
    const double seconds = marks.beats[drawing.nextMark].seconds;
    if (beat != nullptr && seconds >= *beat) return;
    if (beat == nullptr && !drawing.anyBeat) return;  // no grid beat to measure from
    const double sinceLast = seconds - drawing.lastBeat;
    double distance = sinceLast;
    if (beat != nullptr && (!drawing.anyBeat || *beat - seconds <= sinceLast)) {
      distance = seconds - *beat;
    }
    PutMark(drawing, seconds, distance, marks.beats[drawing.nextMark].leftOut);
  }
}

bool DrawPoint(void* context, const GridPoint& point) {
  GridDrawing& drawing = *static_cast<GridDrawing*>(context);
  if (point.kind == PointKind::kDivision) return true;
  const double x = SvgColumn(*drawing.plan, drawing.zoom, point.clock);
  PutMarksBefore(drawing, &point.clock);
  drawing.anyBeat = true;
  drawing.lastBeat = point.clock;
  TextLine& line = drawing.line;
  if (point.section != drawing.section) PutSectionLabel(drawing, point, x);
  drawing.section = point.section;
  if (point.kind == PointKind::kDownbeat) {
    PutVerticalLine(line, "bar", x);
    PutLabel(line, "measure", x, kMeasureRow);
    AddInteger(line, point.measure + drawing.firstMeasureNumber);
    Add(line, "</text>\n");
  } else {
    PutVerticalLine(line, "beat", x);
  }
  return PutLine(*drawing.sink, line);
}

}  // namespace

double SvgColumn(const SvgPlan& plan, int32_t zoom, double seconds) {
  return kLeftMargin + (seconds - plan.viewStart) * zoom;
}

bool PlanSvg(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
             SvgPlan& plan, Failure& failure) {
  TimeSpan span{false, 0.0, 0.0};
  WalkShiftedGrid(map, settings, placed.offsetSamples, GridVisitor{&span, RememberTime, nullptr});
  if (!span.found) {
    SetFailure(failure, "Error: The range holds no grid point to draw!\n");
    return false;
  }
  plan.viewStart = std::floor(span.first);
  plan.viewEnd = std::floor(span.last) + 1.0;
  const double width = (plan.viewEnd - plan.viewStart) * placed.zoom;
  if (!(width <= kMostWidth)) {
    SetFailure(failure,
               "Error: The picture would be %.0f pixels wide; at most %.0f (a smaller --zoom or "
               "range)!\n",
               width, kMostWidth);
    return false;
  }
  plan.recording = RecordingToDraw(placed);
  plan.peak = plan.recording != nullptr ? MeasurePeak(plan.recording) : 0.0;
  if (plan.peak == 0.0) plan.recording = nullptr;  // nothing to draw
  return true;
}

void WriteSvg(const GridMap& map, const GridSettings& settings, const ExportSettings& placed,
              const SvgPlan& plan, ExportSink& sink) {
  const double width = SvgColumn(plan, placed.zoom, plan.viewEnd) + kRightMargin;
  PutHeader(sink, placed, width);
  PutTimeAxis(sink, plan, placed.zoom);
  if (plan.recording != nullptr) PutWaveform(sink, plan, placed.zoom);
  auto drawing = std::make_unique<GridDrawing>();
  *drawing = GridDrawing{&sink,
                         &map,
                         &plan,
                         placed.zoom,
                         &placed.marks,
                         0,
                         false,
                         0.0,
                         -1,
                         {},
                         settings.firstMeasureNumber};
  drawing->line.length = 0;
  WalkShiftedGrid(map, settings, placed.offsetSamples,
                  GridVisitor{drawing.get(), DrawPoint, nullptr});
  PutMarksBefore(*drawing, nullptr);
  const char* end = "</svg>\n";
  PutText(sink, end);
}
