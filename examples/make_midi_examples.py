#!/usr/bin/env python3
"""Writes the two MIDI examples, as a sequencer would export them:

  ritardando_song.mid  4/4, 16 measures at 100 quarter notes a minute, then a
                       ritardando to 60 over 4 measures written as 32 tempo
                       steps (one every eighth note), and a last measure at 60
  pickup_jig.mid       a 6/8 jig with a pickup: one measure of 1/8, then 6/8

Each has a tempo track and a track of notes (running status, a SysEx).
Run from anywhere: python3 examples/make_midi_examples.py
"""
import pathlib
import struct

TICKS_PER_QUARTER = 480


def variable_length(value):
    data = [value & 0x7F]
    value >>= 7
    while value:
        data.insert(0, 0x80 | (value & 0x7F))
        value >>= 7
    return bytes(data)


def meta(delta, kind, data):
    return variable_length(delta) + bytes([0xFF, kind]) + variable_length(len(data)) + data


def tempo(delta, microseconds):
    return meta(delta, 0x51, microseconds.to_bytes(3, "big"))


def meter(delta, numerator, power):
    return meta(delta, 0x58, bytes([numerator, power, 24, 8]))


def name(text):
    return meta(0, 0x03, text.encode("ascii"))


def end_of_track(delta):
    return meta(delta, 0x2F, b"")


def track(events):
    body = b"".join(events)
    return b"MTrk" + struct.pack(">I", len(body)) + body


def song(tracks):
    head = b"MThd" + struct.pack(">IHHH", 6, 1, len(tracks), TICKS_PER_QUARTER)
    return head + b"".join(track(events) for events in tracks)


def notes(pitches, length, channel, program):
    """A line of notes, each `length` ticks with 10 of silence at its end,
    after a General MIDI reset; every status byte after the first note on is
    left to running status (a note on of velocity 0 ends a note)."""
    events = [name("Notes"), variable_length(0) + bytes([0xF0, 5, 0x7E, 0x7F, 9, 1, 0xF7]),
              variable_length(0) + bytes([0xC0 | channel, program])]
    for k, pitch in enumerate(pitches):
        on = bytes([0x90 | channel, pitch, 80]) if k == 0 else bytes([pitch, 80])
        events.append(variable_length(0 if k == 0 else 10) + on)
        events.append(variable_length(length - 10) + bytes([pitch, 0]))
    return events + [end_of_track(0)]


def ritardando_song():
    eighth = TICKS_PER_QUARTER // 2
    measure = 4 * TICKS_PER_QUARTER
    events = [name("Tempo"), meter(0, 4, 2), tempo(0, 600000)]
    # 100 down to 60 quarter notes a minute, a step every eighth note from measure 17.
    for step in range(1, 33):
        delta = 16 * measure if step == 1 else eighth
        beats_per_minute = 100 - 40 * step / 32
        events.append(tempo(delta, round(60000000 / beats_per_minute)))
    events.append(end_of_track(measure * 21 - (16 * measure + 31 * eighth)))
    scale = [60, 62, 64, 65, 67, 69, 71, 72]
    melody = [scale[(k * 3) % 8] for k in range(21 * 4)]
    return song([events, notes(melody, TICKS_PER_QUARTER, 0, 0)])


def pickup_jig():
    eighth = TICKS_PER_QUARTER // 2
    events = [name("Tempo"), meter(0, 1, 3), tempo(0, 375000), meter(eighth, 6, 3),
              end_of_track(8 * 6 * eighth)]
    tune = [67, 72, 71, 72, 74, 72, 71, 69, 67, 69, 71, 72, 74, 76, 74, 72, 71, 69, 67]
    melody = [tune[k % len(tune)] for k in range(1 + 8 * 6)]
    return song([events, notes(melody, eighth, 1, 73)])


def main():
    folder = pathlib.Path(__file__).resolve().parent
    (folder / "ritardando_song.mid").write_bytes(ritardando_song())
    (folder / "pickup_jig.mid").write_bytes(pickup_jig())


if __name__ == "__main__":
    main()
