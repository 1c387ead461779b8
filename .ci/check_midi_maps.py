#!/usr/bin/python3
"""MIDI files as tempo maps, read back against an independent reader.

Writes MIDI files with mido (tempo changes mid-beat, 6/8 and 2/2, a time
signature inside a measure, a hundred-step ramp, format 0 and 1, running
status, SysEx, events of one tick on several tracks), then holds every grid
point of the program's CSV export, and its summary line, against a grid
computed here from mido's events in exact fractions. The MIDI export of each
file must read back (by mido) with the same tempo and time signature events
at the same times. Last, the MIDI export of an hour-long text map at 140
beats a minute must put every click within a microsecond of the report.

Usage: check_midi_maps.py PROGRAM
"""
import math
import pathlib
import subprocess
import sys
import tempfile
from fractions import Fraction

import mido

SETTINGS = [(48000, 1), (44100, 3), (96000, 4)]  # (rate, divisions)


# --- files -------------------------------------------------------------------

def tempo(us, time=0):
    return mido.MetaMessage("set_tempo", tempo=us, time=time)


def meter(numerator, denominator, time=0):
    return mido.MetaMessage("time_signature", numerator=numerator, denominator=denominator,
                            time=time)


def notes(count, step, channel=0):
    """Notes one after another: mido writes their status bytes as running status."""
    track = mido.MidiTrack()
    track.append(mido.Message("program_change", program=12, channel=channel, time=0))
    for k in range(count):
        track.append(mido.Message("note_on", note=60 + k % 12, velocity=90, channel=channel,
                                  time=0 if k == 0 else step // 2))
        track.append(mido.Message("note_on", note=60 + k % 12, velocity=0, channel=channel,
                                  time=step - step // 2))
    return track


def save(folder, name, tracks, ticks_per_beat, file_type=1):
    song = mido.MidiFile(type=file_type, ticks_per_beat=ticks_per_beat)
    for events in tracks:
        song.tracks.append(mido.MidiTrack(events))
    path = folder / name
    song.save(str(path))
    return path


def write_files(folder):
    files = []
    # Tempo changes in the middle of beats, on a tempo track beside a track of notes.
    files.append(save(folder, "mid_beat.mid", [
        [meter(4, 4), tempo(500000), tempo(612345, 130), tempo(433333, 517),
         tempo(750001, 1001)],
        notes(64, 240)], 480))
    # 6/8, then 2/2, then 6/8 again, at 960 ticks a quarter.
    files.append(save(folder, "six_eight_cut_time.mid", [
        [meter(6, 8), tempo(400000), meter(2, 2, 8 * 2880), tempo(550000, 3 * 3840),
         meter(6, 8, 3840)],
        notes(100, 480, 3)], 960))
    # A time signature inside a measure and inside a beat; a repeated one.
    files.append(save(folder, "cut_measure.mid", [
        [meter(3, 4), tempo(520000), meter(5, 8, 1000), meter(5, 8, 1500),
         meter(7, 16, 777), tempo(480000, 333)],
        notes(30, 200)], 480))
    # A ritardando of a hundred steps, one every dotted eighth.
    ramp = [meter(4, 4), tempo(500000)]
    ramp += [tempo(500000 + 5000 * k, 180) for k in range(1, 101)]
    files.append(save(folder, "ramp.mid", [ramp, notes(200, 240, 9)], 240))
    # Format 0: meta events among the notes of one track, with a SysEx.
    single = notes(40, 96)
    single.insert(1, meter(2, 4))
    single.insert(2, tempo(700000))
    single.insert(9, mido.Message("sysex", data=[0x7E, 0x7F, 0x09, 0x01], time=0))
    single.insert(15, tempo(650000, 0))
    single.insert(25, mido.MetaMessage("marker", text="bridge", time=0))
    files.append(save(folder, "format_zero.mid", [single], 96, file_type=0))
    # Events of one tick on several tracks: the later track wins.
    files.append(save(folder, "same_tick.mid", [
        [meter(4, 4), tempo(600000), tempo(450000, 1920), meter(3, 4, 0)],
        [tempo(300000, 1920), meter(6, 8, 0), tempo(320000, 0)],
        notes(24, 480)], 480))
    # A pickup: one eighth, then 6/8; 7/16 at 96 ticks a quarter, where a
    # division of a beat falls between ticks.
    files.append(save(folder, "pickup.mid", [
        [meter(1, 8), tempo(375000), meter(6, 8, 240), meter(7, 16, 6 * 240 * 4),
         tempo(401234, 97)],
        notes(50, 240)], 480))
    files.append(save(folder, "odd_ticks.mid", [
        [meter(7, 16), tempo(500000), tempo(612345, 10), tempo(433333, 67)],
        notes(20, 96)], 96))
    return files


# --- the grid, computed from mido's events ----------------------------------

def read_map(path):
    """Tempos and meters by tick (the last of each kind at a tick wins), the
    sections, and the last tick, as the program's reader is to find them."""
    song = mido.MidiFile(str(path))
    events, last_tick = [], 0
    for number, track in enumerate(song.tracks):
        tick = 0
        for order, message in enumerate(track):
            tick += message.time
            if message.type == "set_tempo":
                events.append((tick, number, order, "tempo", message.tempo))
            elif message.type == "time_signature":
                events.append((tick, number, order, "meter",
                               (message.numerator, message.denominator)))
            if message.type == "end_of_track":
                break
        last_tick = max(last_tick, tick)
    events.sort(key=lambda event: event[:3])
    by_tick = {}
    for tick, _, _, kind, value in events:
        by_tick.setdefault(tick, {})[kind] = value
    tempos, meters, sections = [(0, 500000)], [(0, (4, 4))], []
    now_tempo, now_meter = 500000, (4, 4)
    for tick in sorted(by_tick):
        new = by_tick[tick]
        changed = tick == 0
        if "tempo" in new and new["tempo"] != now_tempo:
            now_tempo, changed = new["tempo"], True
            tempos = tempos[:-1] if tempos[-1][0] == tick else tempos
            tempos.append((tick, now_tempo))
        if "meter" in new:
            changed = changed or new["meter"] != now_meter
            now_meter = new["meter"]
            meters = meters[:-1] if meters[-1][0] == tick else meters
            meters.append((tick, now_meter))
        if changed:
            sections = sections[:-1] if sections and sections[-1][0] == tick else sections
            sections.append((tick, now_tempo, now_meter))
    if not sections or sections[0][0] != 0:
        sections.insert(0, (0, 500000, (4, 4)))
    return song.ticks_per_beat, tempos, meters, sections, last_tick


def seconds_at(position, ppq, tempos):
    total = Fraction(0)
    for k, (tick, us) in enumerate(tempos):
        end = tempos[k + 1][0] if k + 1 < len(tempos) else None
        if position <= tick:
            break
        upto = position if end is None else min(position, end)
        total += Fraction(us) * (upto - tick) / (ppq * 10**6)
    return total


def measure_starts(ppq, meters, stop, before=None):
    """(measure start, meter, its end or None) of measures 0 to stop, or of
    those that begin before the tick `before`; after the last meter, of those
    whose first beat ends by it."""
    measures = []
    for k, (tick, (numerator, denominator)) in enumerate(meters):
        end = meters[k + 1][0] if k + 1 < len(meters) else None
        length = Fraction(4 * ppq * numerator, denominator)
        start = Fraction(tick)
        while (end is None or start < end) and len(measures) <= stop:
            if before is not None and start >= before:
                break
            if before is not None and end is None and start + Fraction(4 * ppq, denominator) > before:
                break
            measures.append((start, (numerator, denominator), end))
            start += length
    return measures


def reference_grid(path, rate, stop, divisions):
    ppq, tempos, meters, sections, last_tick = read_map(path)
    points = []
    for number, (start, (numerator, denominator), end) in enumerate(
            measure_starts(ppq, meters, stop)):
        step = Fraction(4 * ppq, denominator * divisions)
        for k in range(numerator * divisions):
            position = start + k * step
            if end is not None and position >= end:
                break
            section = max(s for s, (tick, _, _) in enumerate(sections) if tick <= position)
            time = seconds_at(position, ppq, tempos)
            points.append((section + 1, number + 1, k // divisions + 1, k % divisions + 1,
                           float(time), math.floor(time * rate)))
    held = measure_starts(ppq, meters, 10**9, last_tick) or measure_starts(ppq, meters, 0)
    beats = 0
    for start, (numerator, denominator), end in held:
        beat = Fraction(4 * ppq, denominator)
        beats += numerator if end is None else min(numerator, math.ceil((end - start) / beat))
    summary = f"Read {len(sections)} sections, {len(held)} measures, {beats} beats"
    return points, summary


# --- the checks ----------------------------------------------------------------

def run(program, arguments, cwd):
    return subprocess.run([program] + [str(a) for a in arguments], cwd=cwd, check=True,
                          capture_output=True, text=True).stdout


def check_grid(program, path, folder):
    problems = []
    for rate, divisions in SETTINGS:
        out = folder / "grid.csv"
        output = run(program, ["--format=csv", path, out, rate, 1, 40, divisions], folder)
        lines = out.read_text().splitlines()[1:]
        mine = [tuple(int(f) for f in line.split(",")[:4]) +
                (float(line.split(",")[4]), int(line.split(",")[5])) for line in lines]
        expected, summary = reference_grid(path, rate, 39, divisions)
        if summary not in output:
            problems.append(f"summary {output.splitlines()[1]!r}, expected {summary!r}")
        if len(mine) != len(expected):
            problems.append(f"{len(mine)} grid points, expected {len(expected)}")
        wrong = [(a, b) for a, b in zip(mine, expected) if a != b]
        if wrong:
            problems.append(f"{len(wrong)} points differ, first {wrong[0][0]} for {wrong[0][1]}")
    return problems, len(expected)


def timed_events(path):
    """(seconds, kind, value) of every tempo and time signature of the file."""
    ppq, tempos, meters, _, _ = read_map(path)
    found = [(seconds_at(t, ppq, tempos), "tempo", us) for t, us in tempos]
    found += [(seconds_at(t, ppq, tempos), "meter", m) for t, m in meters]
    return sorted(found, key=lambda e: (e[0], e[1]))


def check_midi_export(program, path, folder):
    out = folder / "export.mid"
    run(program, ["--format=midi", path, out, 48000, 1, 40, 2], folder)
    if timed_events(out) != timed_events(path):
        return ["the MIDI export's tempo map differs"]
    return []


def check_text_map_drift(program, folder):
    """An hour at 140 beats a minute, one click a beat."""
    (folder / "hour.map").write_text("tmap\t140\t4\t2100\n")
    run(program, ["--format=midi", "hour.map", "hour.mid", 48000, 1, 2100, 1], folder)
    run(program, ["--format=csv", "hour.map", "hour.csv", 48000, 1, 2100, 1], folder)
    seconds = [float(line.split(",")[4])
               for line in (folder / "hour.csv").read_text().splitlines()[1:]]
    clicks, now = [], 0.0
    for message in mido.MidiFile(str(folder / "hour.mid")):
        now += message.time
        if message.type == "note_on" and message.velocity > 0:
            clicks.append(now)
    worst = max(abs(a - b) for a, b in zip(clicks, seconds))
    ok = len(clicks) == len(seconds) == 8400 and worst < 1e-6
    print(f"hour at 140 BPM: {len(clicks)} clicks, the worst {worst * 1e6:.3f} us from the "
          "report: " + ("ok" if ok else "FAILED"))
    return ok


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    program = str(pathlib.Path(sys.argv[1]).resolve())
    results = []
    with tempfile.TemporaryDirectory() as name:
        folder = pathlib.Path(name)
        for path in write_files(folder):
            problems, points = check_grid(program, path, folder)
            problems += check_midi_export(program, path, folder)
            print(f"{path.name}: {points} grid points (at the last settings): "
                  + ("; ".join(problems) if problems else "ok"))
            results.append(not problems)
        results.append(check_text_map_drift(program, folder))
    sys.exit(0 if all(results) else 1)


if __name__ == "__main__":
    main()
