#!/usr/bin/python3
"""Recordings as maps, scored against the songs' true beats.

usage: check_recordings.py PROGRAM WORK_DIR

Each song of make_song.py is rendered by fluidsynth (FluidR3_GM), straight
and with a live band's uneven timing; the program reads the WAV as its map
and exports its fitted grid's beats, which mir_eval scores against the true
beats: an F-measure of at least 0.95, and at least that of `aubio beat` on the
same file; a downbeat F-measure of at least 0.9 where the meter does not
change; no more than 2 sections more than the true map. Each song's picture
must parse as XML and render with rsvg-convert with its bar lines at the
pixel columns their times give. Noise, silence, a truncated file and a file
that is no recording are each refused with one line and nothing written.
"""
import csv
import os
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

import mir_eval
import numpy

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import png_columns  # noqa: E402

SOUNDFONT = "/usr/share/sounds/sf2/FluidR3_GM.sf2"
SONGS = ["changes", "ritardando", "steady", "waltz"]
METER = {"waltz": 3}
METER_CHANGES = {"changes"}
# The picture's layout: where a time is drawn, and a row (under the time
# labels, over the section labels) that only the grid's lines cross.
LEFT_MARGIN = 20
LINE_ROW = 25


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, **kwargs)


def render(name, folder, live):
    here = os.path.dirname(os.path.abspath(__file__))
    run(["/usr/bin/python3", f"{here}/make_song.py", name, folder] + (["--live"] if live else []),
        check=True)
    stem = f"{folder}/{name}{'_live' if live else ''}"
    run(["fluidsynth", "-ni", "-q", "-F", stem + ".wav", "-r", "44100", SOUNDFONT,
         stem + ".mid"], check=True)
    return stem


def read_beats(path):
    rows = numpy.loadtxt(path, ndmin=2)
    return rows[:, 0], rows[:, 1] if rows.shape[1] > 1 else None


def aubio_beats(wav):
    found = run(["aubio", "beat", wav], check=True).stdout.split()
    return numpy.array([float(value) for value in found])


def export(program, options, wav, out):
    done = run([program] + options + [wav, out])
    if done.returncode != 0:
        sys.exit(f"{wav}: exit {done.returncode}: {done.stdout}{done.stderr}")
    return done


def section_count(csv_path):
    with open(csv_path) as table:
        return len({row["section"] for row in csv.DictReader(table)})


def check_bar_columns(svg, png, beats_path, zoom):
    ElementTree.parse(svg)  # well-formed XML
    run(["rsvg-convert", svg, "-o", png], check=True)
    times, numbers = read_beats(beats_path)
    bars = times[numbers == 1]
    start = numpy.floor(times[0])
    darkness = png_columns.read_row(png, LINE_ROW)
    expected = {int(numpy.floor(LEFT_MARGIN + (t - start) * zoom)) for t in bars}
    for column in expected:
        if darkness[column] < 115:
            sys.exit(f"{svg}: no bar line at column {column} ({darkness[column]:.0f})")
    for column, dark in enumerate(darkness):
        if dark > 160 and not any(abs(column - bar) <= 1 for bar in expected):
            sys.exit(f"{svg}: a dark column {column} where no bar line stands")
    return len(expected)


def score_song(program, folder, name, live):
    stem = render(name, folder, live)
    wav = stem + ".wav"
    meter = METER.get(name, 4)
    options = [f"--meter={meter}"]
    export(program, options + ["--format=beats"], wav, stem + ".found")
    export(program, options + ["--format=csv"], wav, stem + ".csv")
    true_times, true_numbers = read_beats(stem + ".beats")
    times, numbers = read_beats(stem + ".found")
    f_measure = mir_eval.beat.f_measure(true_times, times)
    f_aubio = mir_eval.beat.f_measure(true_times, aubio_beats(wav))
    f_downbeat = mir_eval.beat.f_measure(true_times[true_numbers == 1], times[numbers == 1])
    with open(stem + ".map") as true_map:
        true_sections = sum(1 for line in true_map if line.startswith("tmap"))
    sections = section_count(stem + ".csv")
    print(f"{os.path.basename(wav)}: F {f_measure:.3f} (aubio {f_aubio:.3f}), downbeats "
          f"{f_downbeat:.3f}, {sections} sections ({true_sections} true)")
    failures = []
    if f_measure < 0.95 or f_measure < f_aubio:
        failures.append("beat F-measure")
    if name not in METER_CHANGES and f_downbeat < 0.9:
        failures.append("downbeat F-measure")
    if sections > true_sections + 2:
        failures.append("sections")
    zoom = 50
    export(program, options + [f"--zoom={zoom}", "--format=svg"], wav, stem + ".svg")
    check_bar_columns(stem + ".svg", stem + ".png", stem + ".found", zoom)
    return [f"{wav}: {what}" for what in failures]


def check_refused(program, folder):
    """Each bad recording: exit 1, one line, no output file."""
    noise, silence = f"{folder}/noise.wav", f"{folder}/silence.wav"
    run(["sox", "-n", "-r", "44100", "-c", "2", noise, "synth", "20", "whitenoise", "vol", "0.5"],
        check=True)
    run(["sox", "-n", "-r", "44100", "-c", "1", silence, "trim", "0", "20"], check=True)
    truncated, stranger = f"{folder}/truncated.wav", f"{folder}/stranger.wav"
    with open(f"{folder}/steady.wav", "rb") as whole, open(truncated, "wb") as cut:
        data = whole.read()
        cut.write(data[:len(data) // 2])
    with open(stranger, "wb") as odd:
        odd.write(b"RIFF\x10\x00\x00\x00WAVEjunkjunkjunk")
    for bad in (noise, silence, truncated, stranger):
        out = f"{folder}/refused.beats"
        done = run([program, "--format=beats", bad, out])
        lines = [line for line in done.stdout.splitlines() if not line.startswith("Beatstamps")]
        if done.returncode != 1 or len(lines) != 1 or os.path.exists(out):
            sys.exit(f"{bad}: not refused with one line: {done.returncode} {done.stdout!r}")
        print(f"{os.path.basename(bad)}: {lines[0]}")


def main():
    program, folder = sys.argv[1], sys.argv[2]
    os.makedirs(folder, exist_ok=True)
    failures = []
    for name in SONGS:
        for live in (False, True):
            failures += score_song(program, folder, name, live)
    check_refused(program, folder)
    if failures:
        sys.exit("\n".join(failures))
    print("recordings: every song scored, every picture's bar lines in place")


if __name__ == "__main__":
    main()
