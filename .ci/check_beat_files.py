#!/usr/bin/python3
"""Reads the beats, osu and ssc exports of each shipped map (text and MIDI)
back with the field's readers (mir_eval for beats, osu-parsers for osu, a short parser of the
format here for ssc) and holds every beat against the CSV export of the same
run; then checks that --offset moves every format's points by exactly its
samples and leaves out exactly those that land before 0; last, reads the MIDI
format with --offset and --count-in back with mido: every click at the CSV's
time moved by the offset, the count-in's clicks on their beats before measure
1, and the file's bar lines on the map's measures.

Usage: check_beat_files.py PROGRAM EXAMPLES_FOLDER OSU_PARSERS_FOLDER
"""
import json
import pathlib
import struct
import subprocess
import sys
import wave
from fractions import Fraction

import mido
import mir_eval

from check_exports import RATE, check_every_example, report_steps, settings_for
from check_midi_maps import measure_starts, read_map

OSU_READER = pathlib.Path(__file__).with_name("read_osu.cjs")
BLOCK = 1 << 20  # WAV frames compared at once


class Run:
    def __init__(self, program, map_path, folder, offset=None, options=None):
        self.program, self.map_path, self.folder = program, map_path, folder
        self.options = [f"--offset={offset}"] if offset is not None else options or []
        self.tag = "base" if not self.options else "placed"
        self.settings = settings_for(program, map_path)

    def export(self, fmt):
        out = self.folder / f"{self.map_path.stem}.{self.tag}.{fmt}"
        out.unlink(missing_ok=True)  # the grid format appends
        subprocess.run([self.program, *self.options, f"--format={fmt}", str(self.map_path),
                        str(out)] + self.settings, check=True, stdout=subprocess.DEVNULL)
        return out


def offset_samples(text):
    if text.endswith("smp"):
        return int(text[:-3])
    value = float(text) * RATE  # the nearest sample, halves away from 0
    return int(value + 0.5) if value >= 0 else -int(-value + 0.5)


def csv_points(path):
    """(section, measure, beat, division, seconds, sample) of each grid point."""
    lines = path.read_text().splitlines()
    assert lines[0] == "section,measure,beat,division,seconds,sample", lines[0]
    return [tuple(int(f) for f in p[:4]) + (float(p[4]), int(p[5]))
            for p in (line.split(",") for line in lines[1:])]


def beat_places(points):
    """Each beat's label -> its place in quarter notes from measure 1 and from its
    section's first beat, read off a whole-map CSV."""
    places, sections, count = {}, {}, 0
    for section, measure, beat, division, _, _ in points:
        if division == 1:
            first = sections.setdefault(section, count)
            places[(section, measure, beat)] = (count, count - first)
            count += 1
    return places


def midi_beat_places(map_path, points):
    """Each beat's label -> its place in quarter notes from measure 1, from the
    MIDI map's meters as mido reads them (a beat is its denominator's note)."""
    ppq, _, meters, _, _ = read_map(map_path)
    starts = measure_starts(ppq, meters, max(p[1] for p in points))
    places = {}
    for section, measure, beat, division, _, _ in points:
        if division == 1:
            start, (_, denominator), _ = starts[measure - 1]
            places[(section, measure, beat)] = ((start + Fraction(4 * ppq * (beat - 1),
                                                                  denominator)) / ppq, None)
    return places


def check_beats(path, points, problems):
    times, labels = mir_eval.io.load_labeled_events(str(path))
    beats = [p for p in points if p[3] == 1]
    if len(times) != len(beats):
        problems.append(f"beats: {len(times)} read for {len(beats)} grid beats")
    worst = max((abs(t - b[4]) for t, b in zip(times, beats)), default=0.0)
    if worst > 1e-6:
        problems.append(f"beats: a time {worst * 1e6:.3f} us off the CSV")
    if any(label != str(b[2]) for label, b in zip(labels, beats)):
        problems.append("beats: a label is not the CSV's beat")
    return worst


def reader_beats(timing, last):
    """The beats a reader places: from each timing point its time plus whole
    beat lengths, up to the next point (a beat within half a beat of it is
    the next point's own), the last point's up to the beat at `last`."""
    beats = []
    for k, (start, length, _) in enumerate(timing):
        end = timing[k + 1][0] - length / 2 if k + 1 < len(timing) else last + length / 2
        count = 0
        while start + count * length < end:
            beats.append(start + count * length)
            count += 1
    return beats


def check_reader_beats(timing, points, problems):
    """The reader's beats are the grid's, each within half a millisecond; those
    a point places before the export's first beat (its beat before 0) aside."""
    grid = [p[4] * 1000 for p in points if p[3] == 1]
    if not grid:
        return 0.0
    beats = [b for b in reader_beats(timing, grid[-1]) if b > grid[0] - 0.5 - 1e-6]
    if len(beats) != len(grid):
        problems.append(f"osu: a reader places {len(beats)} beats for {len(grid)}")
        return 0.0
    worst = max(abs(b - g) for b, g in zip(beats, grid))
    if worst > 0.5 + 1e-6:
        problems.append(f"osu: a reader's beat {worst:.6f} ms off the CSV")
    return worst


def check_osu(path, reader, points, places, problems):
    decoded = json.loads(subprocess.run(["node", str(OSU_READER), reader, str(path)],
                                        check=True, capture_output=True, text=True).stdout)
    if (decoded["version"], decoded["audio"], decoded["hitObjects"]) != (14, "audio.mp3", 0):
        problems.append(f"osu: header {decoded}")
    timing = decoded["timingPoints"]
    read_back = check_reader_beats(timing, points, problems)
    if next(iter(places.values()), (0, None))[1] is None:
        return read_back  # a MIDI map: a point where each run of beats begins
    sections = sorted({p[0] for p in points})
    if len(timing) != len(sections):
        problems.append(f"osu: {len(timing)} timing points for {len(sections)} sections")
        return 0.0
    worst = 0.0
    for (start, length, meter), section in zip(timing, sections):
        beats = [p for p in points if p[0] == section and p[3] == 1]
        if meter != max(p[2] for p in beats):
            problems.append(f"osu: section {section} in {meter}")
        for p in beats:  # where a reader places the beat, from its section's start
            placed = start + places[p[:3]][1] * length
            worst = max(worst, abs(placed - p[4] * 1000))
    # Between two timing points a reader places the beats of one section, no more.
    for (start, length, _), (following, _, _), section in zip(timing, timing[1:], sections):
        count = sum(1 for p in points if p[0] == section and p[3] == 1)
        first = min(places[p[:3]][1] for p in points if p[0] == section and p[3] == 1)
        if round((following - start) / length) != first + count:
            problems.append(f"osu: section {section} holds another count of beats")
    if worst > 0.5 + 1e-6:
        problems.append(f"osu: a beat {worst:.6f} ms off the CSV")
    return max(worst, read_back)


def read_ssc(path):
    tags = {}
    for field in path.read_text().split(";"):
        if ":" in field:
            name, value = field.strip().split(":", 1)
            tags[name.lstrip("#")] = value
    bpms = [tuple(float(v) for v in pair.split("=")) for pair in tags["BPMS"].split(",")]
    meters = [tuple(float(v) for v in sig.split("=")) for sig in tags["TIMESIGNATURES"].split(",")]
    return tags, float(tags["OFFSET"]), bpms, meters


def ssc_seconds(offset, bpms, beat):
    """The time of `beat` as a StepMania reader counts it: from beat 0 at -offset,
    through each tempo in turn."""
    seconds = -offset
    for (start, bpm), (end, _) in zip(bpms, bpms[1:] + [(float("inf"), 0)]):
        if beat <= start:
            break
        seconds += (min(beat, end) - start) * 60 / bpm
    return seconds


def check_ssc(path, points, places, problems):
    tags, offset, bpms, meters = read_ssc(path)
    if (tags["VERSION"], tags["MUSIC"]) != ("0.83", "audio.mp3"):
        problems.append(f"ssc: header {tags}")
    worst = 0.0
    for p in points:
        if p[3] == 1:
            worst = max(worst, abs(ssc_seconds(offset, bpms, places[p[:3]][0]) - p[4]))
    if worst > 0.001:
        problems.append(f"ssc: a beat {worst * 1000:.6f} ms off the CSV")
    downbeats = {round(float(places[p[:3]][0]), 6) for p in points if p[2:4] == (1, 1)}
    if next(iter(places.values()), (0, 0))[1] is not None:
        if [b for b, _ in bpms] != [b for b, _, _ in meters]:
            problems.append("ssc: tempos and meters at other beats")
    elif downbeats and any(round(b, 6) not in downbeats for b, _, _ in meters
                           if min(downbeats) <= b <= max(downbeats)):
        problems.append("ssc: a time signature where no measure begins")
    return worst


def moved(points, shift):
    """The points as an offset of `shift` samples places them."""
    return [p[:4] + (p[4] + shift / RATE, p[5] + shift) for p in points if p[5] + shift >= 0]


def check_moved_text(name, lines, expected, decimals, problems):
    """Each line of a labels or beats file against the moved points."""
    if len(lines) != len(expected):
        problems.append(f"offset {name}: {len(lines)} lines for {len(expected)} points")
    for line, p in zip(lines, expected):
        if abs(float(line.split("\t")[0]) - p[4]) > 0.5 * 10 ** -decimals + 1e-9:
            problems.append(f"offset {name}: {line} is not at {p[4]}")
            return


def check_moved_click(base_path, moved_path, shift, first_kept, problems):
    """The WAV's samples are the base file's, moved; a click left out leaves silence."""
    with wave.open(str(base_path)) as base, wave.open(str(moved_path)) as track:
        if track.getnframes() != base.getnframes() + shift:
            problems.append(f"offset click: {track.getnframes()} frames, "
                            f"not {base.getnframes()} + {shift}")
            return
        silence = track.readframes(first_kept)
        if silence.count(0) != len(silence):
            problems.append("offset click: sound before the first click kept")
        base.setpos(first_kept - shift)
        for _ in range(first_kept, track.getnframes(), BLOCK):
            if track.readframes(BLOCK) != base.readframes(BLOCK):
                problems.append("offset click: samples other than the base file's, moved")
                return


def check_offset(run, base, reader, places, problems):
    shift = offset_samples(run.options[0].split("=", 1)[1])
    expected = moved(base["csv"], shift)
    points = csv_points(run.export("csv"))
    if [p[:4] + p[5:] for p in points] != [p[:4] + p[5:] for p in expected]:
        problems.append(f"offset {shift}: CSV points other than the base's moved by {shift}")
    if any(abs(p[4] - e[4]) > 1e-9 for p, e in zip(points, expected)):
        problems.append(f"offset {shift}: CSV seconds other than the base's moved")
    check_moved_text("labels", run.export("labels").read_text().splitlines(), expected, 6,
                     problems)
    check_moved_text("beats", run.export("beats").read_text().splitlines(),
                     [p for p in expected if p[3] == 1], 6, problems)
    report = run.export("grid").read_text()
    steps = [(m, b, d, float(t), n) for _, m, b, d, t, n in
             report_steps(report, expected[0][1:4])] if expected else []  # cut at 65,535 characters
    if not steps or any(s[:3] + s[4:] != e[1:4] + e[5:] or abs(s[3] - e[4]) > 0.0005 + 1e-9
                        for s, e in zip(steps, expected)):
        problems.append(f"offset {shift}: report steps other than the base's moved")
    if expected:
        check_moved_click(base["click"], run.export("click"), shift, expected[0][5], problems)
    check_osu(run.export("osu"), reader, expected, places, problems)
    tags, offset, bpms, meters = read_ssc(run.export("ssc"))
    base_tags = read_ssc(base["ssc"])[0]
    if (tags["BPMS"], tags["TIMESIGNATURES"]) != (base_tags["BPMS"], base_tags["TIMESIGNATURES"]):
        problems.append(f"offset {shift}: ssc tempos or meters other than the base's")
    if tags["OFFSET"] != "%.6f" % (0.0 - shift / RATE):
        problems.append(f"offset {shift}: ssc #OFFSET:{tags['OFFSET']}")
    check_ssc(run.export("ssc"), expected, places, problems)
    return len(base["csv"]) - len(expected)


# --- the MIDI format placed in a recording ------------------------------------

# Seconds: a click's distance from its time, as the README states it. A text
# map's tempo is carried in whole microseconds, half a microsecond more.
MIDI_BOUND = {".mid": 1e-6, ".map": 1.5e-6}
SOUNDS = {"downbeat": (76, 127), "beat": (77, 100), "division": (77, 55)}


def sound_of(point):
    if point[3] != 1:
        return SOUNDS["division"]
    return SOUNDS["downbeat"] if point[2] == 1 else SOUNDS["beat"]


def midi_timeline(path):
    """The clicks of a MIDI file (exact seconds, (note, velocity)) and its bar
    lines' seconds, from its own ticks, tempos and time signatures as mido
    reads them, summed in fractions."""
    song = mido.MidiFile(str(path))
    ppq = song.ticks_per_beat
    events = []
    for number, track in enumerate(song.tracks):
        tick = 0
        for order, message in enumerate(track):
            tick += message.time
            events.append((tick, number, order, message))
    events.sort(key=lambda event: event[:3])
    end = max(event[0] for event in events)
    meters = [(e[0], e[3].numerator, e[3].denominator) for e in events
              if e[3].type == "time_signature"]
    # Bar lines as (tick, order, kind): each meter's measures up to the next one.
    marks = []
    for k, (tick, numerator, denominator) in enumerate(meters):
        stop = meters[k + 1][0] if k + 1 < len(meters) else end + 1
        position = Fraction(tick)
        while position < stop:
            marks.append((position, 1, "bar", None))
            position += Fraction(4 * ppq * numerator, denominator)
    for tick, number, order, message in events:
        if message.type == "set_tempo":
            marks.append((Fraction(tick), 0, "tempo", message.tempo))
        elif message.type == "note_on" and message.velocity > 0:
            marks.append((Fraction(tick), 1, "click", (message.note, message.velocity)))
    marks.sort(key=lambda mark: mark[:2])
    now, at, tempo, clicks, bars = Fraction(0), Fraction(0), 500000, [], []
    for tick, _, kind, value in marks:
        now += (tick - at) * tempo / (ppq * 10**6)
        at = tick
        if kind == "tempo":
            tempo = value
        elif kind == "click":
            clicks.append((now, value))
        else:
            bars.append(now)
    return clicks, bars


def count_in_reference(map_path):
    """Section 1's beats per measure and seconds per beat, which the count-in takes."""
    if map_path.suffix == ".mid":
        _, tempos, meters, _, _ = read_map(map_path)
        numerator, denominator = meters[0][1]
        return numerator, Fraction(tempos[0][1] * 4, denominator * 10**6)
    for line in map_path.read_text().splitlines():
        fields = line.split("\t")
        if fields[0] == "tmap" and int(fields[3]) > 0:
            tempo = struct.unpack("f", struct.pack("f", float(fields[1])))[0]  # read as a float
            return int(fields[2]), 60 / tempo
    return 0, 0


def check_midi_placement(run, base, count_in, reference, problems):
    """The placed MIDI file against the base CSV moved by the offset, and the
    count-in's clicks counted back from measure 1; its bar lines where the
    measures begin. Returns the worst click's distance in seconds."""
    offset = run.options[0].split("=", 1)[1] if run.options[0].startswith("--offset") else None
    shift = offset_samples(offset) if offset is not None else 0
    beats, beat = reference
    measure_one = shift / RATE if offset is not None else count_in * beats * beat
    expected = []
    for back in range(count_in * beats, 0, -1):
        time = measure_one - back * float(beat)
        first = (count_in * beats - back) % beats == 0
        if time >= -1e-9:
            expected.append((time, SOUNDS["downbeat" if first else "beat"]))
    grid = moved(base["csv"], shift)
    expected += [(p[4] + (measure_one - shift / RATE), sound_of(p)) for p in grid]
    clicks, bars = midi_timeline(run.export("midi"))
    name, bound = " ".join(run.options), MIDI_BOUND[run.map_path.suffix]
    if len(clicks) != len(expected):
        problems.append(f"midi {name}: {len(clicks)} clicks for {len(expected)}")
        return 0.0
    worst = max((abs(float(c[0]) - e[0]) for c, e in zip(clicks, expected)), default=0.0)
    if worst > bound or any(c[1] != e[1] for c, e in zip(clicks, expected)):
        problems.append(f"midi {name}: a click {worst * 1e6:.3f} us off or of another sound")
    downbeats = [e[0] for e in expected if e[1] == SOUNDS["downbeat"]]
    inside = [float(b) for b in bars if downbeats and
              downbeats[0] - bound <= b <= downbeats[-1] + bound]
    if len(inside) != len(downbeats) or any(abs(b - d) > bound
                                            for b, d in zip(inside, downbeats)):
        problems.append(f"midi {name}: bar lines other than the measures' starts")
    return worst


def check_midi_placements(program, map_path, folder, base, problems):
    reference = count_in_reference(map_path)
    sixth = base["csv"][5][5] + 1
    runs = [([f"--count-in=2"], 2), (["--offset=1.25"], 0), (["--offset=60000smp", "--count-in=1"], 1),
            (["--offset=1.7", "--count-in=2"], 2), (["--offset=-0.5"], 0),
            ([f"--offset=-{sixth}smp"], 0), (["--offset=-1.7", "--count-in=1"], 1)]
    worst = 0.0
    for options, count_in in runs:
        run = Run(program, map_path, folder, options=options)
        worst = max(worst, check_midi_placement(run, base, count_in, reference, problems))
    return worst


def check_map(program, map_path, reader, folder):
    problems = []
    run = Run(program, map_path, folder)
    base = {"csv": csv_points(run.export("csv")), "click": run.export("click"),
            "ssc": run.export("ssc")}
    places = (midi_beat_places(map_path, base["csv"]) if map_path.suffix == ".mid"
              else beat_places(base["csv"]))
    beats = check_beats(run.export("beats"), base["csv"], problems)
    osu = check_osu(run.export("osu"), reader, base["csv"], places, problems)
    ssc = check_ssc(base["ssc"], base["csv"], places, problems)
    # Forward by seconds and samples; back by seconds, and past the sixth point.
    offsets = ["1.25", "60000smp", "-0.5", f"-{base['csv'][5][5] + 1}smp"]
    dropped = [check_offset(Run(program, map_path, folder, o), base, reader, places, problems)
               for o in offsets]
    midi = check_midi_placements(program, map_path, folder, base, problems)
    for out in folder.iterdir():
        out.unlink()
    print(f"{map_path.name}: {len(base['csv'])} grid points; beats within {beats * 1e6:.3f} us, "
          f"osu within {osu:.6f} ms, ssc within {ssc * 1000:.6f} ms; offsets {offsets} left "
          f"out {dropped} points; MIDI placed within {midi * 1e6:.3f} us: "
          + ("; ".join(problems[:5]) if problems else "ok"))
    return not problems


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    program = str(pathlib.Path(sys.argv[1]).resolve())
    check_every_example(sys.argv[2],
                        lambda path, scratch: check_map(program, path, sys.argv[3], scratch))


if __name__ == "__main__":
    main()
