#!/usr/bin/python3
"""Scores fitted beat lists against the truth with mir_eval.beat: beat lists
made from known maps (tempo and meter changes, pickups), every time moved by
a random error of up to a third of the tolerance, 2 % of the beats removed and
1 % extra beats added, are read as maps and fitted by the program; the beats
file of the fitted map must score an F-measure of 1.0 against the map's own
beats, with and without beat numbers in the list.

Usage: check_beat_fit.py PROGRAM
"""
import pathlib
import random
import subprocess
import sys
import tempfile

import mir_eval
import numpy

TOLERANCE = 0.025
MAPS = 16


def random_map(rng, pickup, meter):
    """Sections (tempo, beats per measure, measures), each next one of
    another meter or a tempo at least 3 beats per minute away."""
    sections = []
    for _ in range(rng.randint(3, 6)):
        tempo = round(rng.uniform(70, 160), 2)
        beats = meter or rng.randint(2, 7)
        if sections and abs(tempo - sections[-1][0]) < 3:
            tempo = sections[-1][0] + (12.5 if sections[-1][0] < 120 else -12.5)
        sections.append((tempo, beats, rng.randint(16, 32)))
    if pickup:
        sections.insert(0, (sections[0][0], rng.randint(1, 3), 1))
    return sections


def true_beats(sections, offset):
    """Every beat of the map: its time and its number in its measure."""
    beats, clock = [], offset
    for tempo, meter, measures in sections:
        for _ in range(measures):
            for number in range(1, meter + 1):
                beats.append((clock, number))
                clock += 60.0 / tempo
    return beats


def listed_beats(rng, beats):
    """As a tapper or tracker gives them: moved, some missed, some extra."""
    listed = []
    for k, (time, number) in enumerate(beats):
        moved = time + rng.uniform(-TOLERANCE / 3, TOLERANCE / 3)
        if k in (0, len(beats) - 1) or rng.random() >= 0.02:
            listed.append((moved, number))
        if k + 1 < len(beats) and rng.random() < 0.01:
            gap = beats[k + 1][0] - time
            listed.append((time + rng.uniform(2 * TOLERANCE, gap - 2 * TOLERANCE), number))
    return listed


def fitted_beats(program, listing, folder):
    out = folder / "fitted.beats"
    run = subprocess.run([program, "--format=beats", str(listing), str(out), "48000", "1",
                          "2147483647"], capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit(f"{listing.name}: the program failed:\n{run.stdout}{run.stderr}")
    times, _ = mir_eval.io.load_labeled_events(str(out))
    return times


def main():
    program = sys.argv[1]
    rng = random.Random(20261208)
    worst = 1.0
    with tempfile.TemporaryDirectory() as scratch:
        folder = pathlib.Path(scratch)
        for trial in range(MAPS):
            numbered = trial % 2 == 0
            sections = random_map(rng, numbered and trial % 4 == 0, 0 if numbered else 4)
            truth = true_beats(sections, rng.uniform(0.0, 3.0))
            listing = folder / f"list{trial}.txt"
            listing.write_text("".join(
                f"{time:.6f}\t{number}\n" if numbered else f"{time:.6f}\n"
                for time, number in listed_beats(rng, truth)))
            score = mir_eval.beat.f_measure(numpy.array([t for t, _ in truth]),
                                            fitted_beats(program, listing, folder))
            print(f"{listing.name}: {len(sections)} sections, {len(truth)} beats, "
                  f"{'numbered' if numbered else 'times alone'}: F-measure {score:.6f}")
            worst = min(worst, score)
    if worst != 1.0:
        sys.exit(f"a fitted list scored {worst:.6f}, not 1.0")
    print(f"{MAPS} fitted beat lists: F-measure 1.0 each")


if __name__ == "__main__":
    main()
