#!/usr/bin/env python3
"""Writes the seed inputs of the midi_file harness into fuzz/seeds/midi_file:
small MIDI files of our own, each reaching a different part of the reader
(formats, running status, SysEx, skipped chunks, cut measures, ramps) or one
of its refusals."""
import pathlib
import struct
import sys


# The examples' own writer of MIDI bytes.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "examples"))
from make_midi_examples import meta, meter, tempo  # noqa: E402
from make_midi_examples import variable_length as vlq  # noqa: E402


END = meta(0, 0x2F, b"")


def chunk(kind, body):
    return kind + struct.pack(">I", len(body)) + body


def header(fmt, tracks, division, extra=b""):
    return chunk(b"MThd", struct.pack(">HHH", fmt, tracks, division) + extra)


def song(fmt, division, *tracks):
    return header(fmt, len(tracks), division) + b"".join(chunk(b"MTrk", t) for t in tracks)


NOTES = (vlq(0) + bytes([0x90, 60, 90]) + vlq(120) + bytes([60, 0]) + vlq(0) + bytes([62, 90]) +
         tempo(60, 450000) + vlq(60) + bytes([62, 0]) +
         vlq(0) + bytes([0xF0, 3, 0x7E, 0x7F, 0xF7]) + vlq(10) + bytes([64, 90]) +
         vlq(0) + bytes([0xC1, 5]) + vlq(5) + bytes([6]) + vlq(100) + bytes([0xE0, 0, 64]) + END)

SEEDS = {
    "format0_notes": song(0, 96, meter(0, 3, 2) + tempo(0, 500000) + NOTES),
    "format1_two_tracks": song(1, 480, meter(0, 4, 2) + tempo(0, 600000) + tempo(700, 400000) +
                               meter(1220, 6, 3) + END, NOTES),
    "same_tick_tracks": song(1, 480, tempo(0, 600000) + tempo(1920, 450000) + END,
                             tempo(1920, 300000) + meter(0, 5, 3) + meter(0, 7, 4) + END),
    "ramp": song(1, 240, meter(0, 4, 2) + b"".join(tempo(0 if k == 0 else 180, 500000 + 5000 * k)
                                                  for k in range(40)) + END),
    "pickup": song(1, 480, meter(0, 1, 3) + tempo(0, 375000) + meter(240, 6, 3) + meta(2880, 0x2F, b"")),
    "odd_ticks": song(1, 97, meter(0, 7, 4) + tempo(13, 612345) + meter(301, 2, 1) + END),
    "skipped_chunks": header(1, 1, 480, b"more") + chunk(b"XFIL", b"anything") +
                      chunk(b"MTrk", tempo(5, 400000) + END) + chunk(b"XMRK", b""),
    "after_end": song(1, 480, meter(0, 2, 2) + meta(100, 0x2F, b"") + bytes([0, 0x3C])),
    "no_end": song(0, 480, tempo(0, 500000) + vlq(40) + bytes([0x90, 60, 90])),
    "format2": song(2, 480, END),
    "smpte": song(1, 0xE250, END),
    "past_end": header(1, 1, 480) + b"MTrk" + struct.pack(">I", 50) + tempo(0, 500000),
    "long_number": song(1, 480, bytes([0x81, 0x81, 0x81, 0x81, 0x01]) + END),
    "no_status": song(1, 480, vlq(0) + bytes([0x3C, 0x40]) + END),
    "zero_tempo": song(1, 480, tempo(0, 0) + END),
    "zero_beats": song(1, 480, meter(0, 0, 2) + END),
    "no_track": header(1, 0, 480),
}


def main():
    folder = pathlib.Path(__file__).resolve().parent / "seeds" / "midi_file"
    folder.mkdir(parents=True, exist_ok=True)
    for name, data in SEEDS.items():
        (folder / f"{name}.mid").write_bytes(data)


if __name__ == "__main__":
    main()
