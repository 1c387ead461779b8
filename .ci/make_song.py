#!/usr/bin/python3
"""Writes a MIDI song (drums, bass, chords) that follows a known tempo map,
with its true beats and its tempo map beside it, for rendering to audio and
scoring the beats the program finds in the recording.

usage: make_song.py NAME OUT_DIR [--live]
  OUT_DIR/NAME.mid    the song: 1 MIDI tick is 1 ms
  OUT_DIR/NAME.beats  its true beats: seconds, tab, beat in measure
  OUT_DIR/NAME.map    its tempo map, as the program reads it
--live moves every note by up to 12 ms either way (fixed seed), as a band
plays; the true beats stay where the map puts them.
"""
import random
import sys

import mido

# Each song: a lead-in in seconds and sections of (tempo, beats per measure, measures).
SONGS = {
    # tempo and meter changes
    "changes": [(100, 4, 8), (128, 4, 8), (128, 3, 8), (96, 4, 8)],
    # a ritardando written as one-measure steps
    "ritardando": [(120, 4, 10), (116, 4, 1), (112, 4, 1), (108, 4, 1), (104, 4, 1),
                   (100, 4, 6)],
    # one meter throughout, one tempo change
    "steady": [(110, 4, 12), (140, 4, 12)],
    # three beats to the measure throughout
    "waltz": [(150, 3, 24)],
    # three minutes, for timing the program against aubio
    "long": [(120, 4, 45), (132, 4, 50)],
}
LEAD_IN = 0.5
CHORDS = [(48, 52, 55), (45, 48, 52), (41, 45, 48), (43, 47, 50)]  # C Am F G
KICK, SNARE, HAT = 36, 38, 42


def beat_times(sections):
    """(seconds, beat in measure, measure index) of every beat, and the end."""
    beats, now, measure = [], LEAD_IN, 0
    for tempo, meter, measures in sections:
        for _ in range(measures):
            for beat in range(meter):
                beats.append((now, beat + 1, measure, meter, 60.0 / tempo))
                now += 60.0 / tempo
            measure += 1
    return beats, now


def notes(beats, live):
    rng = random.Random(23)
    out = []  # (seconds, channel, note, velocity, length)

    def add(when, channel, note, velocity, length):
        if live:
            when += rng.uniform(-0.012, 0.012)
        out.append((max(0.0, when), channel, note, velocity, length))

    for when, beat, measure, meter, period in beats:
        chord = CHORDS[measure % len(CHORDS)]
        downbeat = beat == 1
        add(when, 9, KICK if downbeat or (meter == 4 and beat == 3) else SNARE,
            120 if downbeat else 96, 0.1)
        add(when, 9, HAT, 70, 0.05)
        add(when + period / 2, 9, HAT, 50, 0.05)
        add(when, 1, chord[0] - 12, 110 if downbeat else 90, period * 0.8)
        if downbeat:
            for note in chord:
                add(when, 0, note + 12, 70, period * meter * 0.95)
    return out


def write_midi(path, events, end):
    song = mido.MidiFile(ticks_per_beat=500)  # at 120 bpm, a tick is 1 ms
    track = mido.MidiTrack()
    song.tracks.append(track)
    track.append(mido.MetaMessage("set_tempo", tempo=500000, time=0))
    track.append(mido.Message("program_change", channel=0, program=0, time=0))
    track.append(mido.Message("program_change", channel=1, program=33, time=0))
    timed = []
    for when, channel, note, velocity, length in events:
        timed.append((round(when * 1000), 1, channel, note, velocity))
        timed.append((round((when + length) * 1000), 0, channel, note, 0))
    timed.sort()
    last = 0
    for tick, _, channel, note, velocity in timed:
        kind = "note_on" if velocity else "note_off"
        track.append(mido.Message(kind, channel=channel, note=note, velocity=velocity,
                                  time=tick - last))
        last = tick
    track.append(mido.MetaMessage("end_of_track", time=round(end * 1000) + 1000 - last))
    song.save(path)


def main():
    name, folder = sys.argv[1], sys.argv[2]
    live = "--live" in sys.argv[3:]
    sections = SONGS[name]
    beats, end = beat_times(sections)
    stem = f"{folder}/{name}{'_live' if live else ''}"
    write_midi(stem + ".mid", notes(beats, live), end)
    with open(stem + ".beats", "w") as out:
        for when, beat, *_ in beats:
            out.write(f"{when:.6f}\t{beat}\n")
    with open(stem + ".map", "w") as out:
        for tempo, meter, measures in sections:
            out.write(f"tmap\t{tempo}\t{meter}\t{measures}\n")


if __name__ == "__main__":
    main()
