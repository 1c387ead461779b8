#!/usr/bin/python3
"""Benchmark, not a test: a three-minute stereo 44.1 kHz WAV read, tracked,
fitted and exported as beats by the program, beside `aubio beat` on the same
file, in one run; prints both times (the best of three each).

usage: bench/recording_vs_aubio.py PROGRAM [WORK_DIR]
"""
import os
import subprocess
import sys
import tempfile
import time


def best_of_three(command):
    times = []
    for _ in range(3):
        start = time.perf_counter()
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
    return min(times)


def main():
    program = sys.argv[1]
    work = sys.argv[2] if len(sys.argv) > 2 else tempfile.mkdtemp()
    here = os.path.dirname(os.path.abspath(__file__))
    subprocess.run(["/usr/bin/python3", f"{here}/../.ci/make_song.py", "long", work], check=True)
    wav = f"{work}/long.wav"
    subprocess.run(["fluidsynth", "-ni", "-q", "-F", wav, "-r", "44100",
                    "/usr/share/sounds/sf2/FluidR3_GM.sf2", f"{work}/long.mid"], check=True)
    info = subprocess.run(["soxi", wav], check=True, capture_output=True, text=True).stdout
    print("\n".join(line for line in info.splitlines()
                    if line.startswith(("Channels", "Sample Rate", "Duration"))))
    ours = best_of_three([program, "--format=beats", wav, f"{work}/long.beats"])
    theirs = best_of_three(["aubio", "beat", wav])
    print(f"beatstamps1a --format=beats: {ours:.3f} s")
    print(f"aubio beat:                  {theirs:.3f} s")
    print(f"ratio: {ours / theirs:.2f} (at most 0.5 wanted)")


if __name__ == "__main__":
    main()
