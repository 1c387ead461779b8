#!/usr/bin/python3
"""Reads every export of each shipped map back with independent readers (mido
for MIDI, the wave module for WAV) and holds it against the CSV export and the
report of the same run.

Usage: check_exports.py PROGRAM EXAMPLES_FOLDER
"""
import pathlib
import subprocess
import sys
import tempfile
import wave

import mido

RATE = 48000
SETTINGS = [str(RATE), "1", "2147483647", "2"]  # the whole map, two divisions a beat


def settings_for(program, map_path):
    """The whole map: a MIDI map's grid goes on past its end, so up to its last measure."""
    if map_path.suffix != ".mid":
        return SETTINGS
    summary = subprocess.run([program, "--format=csv", str(map_path), "-"], check=True,
                             capture_output=True, text=True).stderr.splitlines()[1]
    return SETTINGS[:2] + [summary.split(", ")[1].split()[0]] + SETTINGS[3:]


def export(program, fmt, map_path, out):
    subprocess.run([program, f"--format={fmt}", str(map_path), str(out)] +
                   settings_for(program, map_path), check=True, stdout=subprocess.DEVNULL)


def report_steps(text, first=(0, 0, 1)):
    """(section, measure, beat, division, time text, sample) of each step line; the
    first step, (measure, beat, division) `first`, may lie inside a beat."""
    steps, section, (measure, beat, division) = [], 0, first
    division -= 1
    for line in text.split("\n"):
        fields = line.split("\t")
        if line.startswith("Section "):
            section = int(fields[0].split()[1])
        elif len(fields) == 4 and fields[3].endswith(" smp"):
            if fields[0]:
                measure = int(fields[0][2:])
            if fields[1]:
                beat, division = int(fields[1][2:]), 0
            division += 1
            steps.append((section, measure, beat, division, fields[2][:-4], int(fields[3][:-4])))
    return steps


def check_map(program, map_path, folder):
    problems = []
    names = {fmt: folder / f"{map_path.stem}.{fmt}" for fmt in ("grid", "csv", "midi", "click")}
    for fmt, out in names.items():
        export(program, fmt, map_path, out)
    lines = names["csv"].read_text().splitlines()
    if lines[0] != "section,measure,beat,division,seconds,sample":
        problems.append("CSV header " + lines[0])
    points = [line.split(",") for line in lines[1:]]
    seconds = [float(p[4]) for p in points]
    samples = [int(p[5]) for p in points]

    # The report is cut at 65,535 characters: compare the lines it holds.
    steps = report_steps(names["grid"].read_text())
    if not 0 < len(steps) <= len(points):
        problems.append(f"{len(steps)} report lines for {len(points)} grid points")
    for step, point, second in zip(steps, points, seconds):
        mine = tuple(int(p) for p in point[:4]) + ("%.3f" % second, int(point[5]))
        if mine != step:
            problems.append(f"CSV {mine} but report {step}")

    clicks, now = [], 0.0
    for message in mido.MidiFile(names["midi"]):  # times in seconds, tempo changes applied
        now += message.time
        if message.type == "note_on" and message.velocity > 0:
            clicks.append(now)
    if len(clicks) != len(points):
        problems.append(f"{len(clicks)} MIDI notes for {len(points)} grid points")
    worst = max((abs(a - b) for a, b in zip(clicks, seconds)), default=0.0)
    if worst > 0.001:
        problems.append(f"a MIDI note {worst * 1000:.3f} ms off its grid point")

    with wave.open(str(names["click"]), "rb") as track:
        header = (track.getframerate(), track.getnchannels(), track.getsampwidth())
        if header != (RATE, 1, 2):
            problems.append(f"WAV rate, channels, width {header}")
        if track.getnframes() != samples[-1] + RATE // 100:
            problems.append(f"WAV of {track.getnframes()} frames, last grid point {samples[-1]}")
        silent, early, previous = 0, 0, -RATE
        for sample in samples:
            track.setpos(sample)
            if track.readframes(1) == b"\0\0":
                silent += 1
            if sample - previous > RATE // 100 and sample > 0:  # a click after silence
                track.setpos(sample - 1)
                early += track.readframes(1) != b"\0\0"
            previous = sample
        if silent or early:
            problems.append(f"{silent} grid points without a click, {early} clicks early")
    for out in names.values():
        out.unlink()

    print(f"{map_path.name}: {len(points)} grid points, {len(steps)} report lines, "
          f"MIDI within {worst * 1000:.3f} ms, {len(samples) - silent} clicks: "
          + ("; ".join(problems[:5]) if problems else "ok"))
    return not problems


def check_every_example(folder, check):
    """Runs check(map_path, scratch_folder) on every shipped map; exits 0 when all hold."""
    maps = sorted(pathlib.Path(folder).glob("*.map")) + sorted(pathlib.Path(folder).glob("*.mid"))
    with tempfile.TemporaryDirectory() as scratch:
        results = [check(path, pathlib.Path(scratch)) for path in maps]
    sys.exit(0 if maps and all(results) else 1)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    program = str(pathlib.Path(sys.argv[1]).resolve())
    check_every_example(sys.argv[2], lambda path, scratch: check_map(program, path, scratch))


if __name__ == "__main__":
    main()
