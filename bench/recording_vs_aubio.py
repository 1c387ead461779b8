#!/usr/bin/python3
"""Benchmark, not a test: a three-minute stereo 44.1 kHz WAV read, tracked,
fitted and exported as beats by the program, beside `aubio beat` on the same
file, in one run; prints both times, wall clock and CPU (user + system), the
best of five each, taken in turns so that both meet the same load.

usage: bench/recording_vs_aubio.py PROGRAM [WORK_DIR]
"""
import os
import resource
import subprocess
import sys
import tempfile
import time


def timed(command):
    """Wall-clock and CPU seconds of one run."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def main():
    program = sys.argv[1]
    work = sys.argv[2] if len(sys.argv) > 2 else tempfile.mkdtemp()
    os.makedirs(work, exist_ok=True)
    here = os.path.dirname(os.path.abspath(__file__))
    subprocess.run(["/usr/bin/python3", f"{here}/../.ci/make_song.py", "long", work], check=True)
    wav = f"{work}/long.wav"
    subprocess.run(["fluidsynth", "-ni", "-q", "-F", wav, "-r", "44100",
                    "/usr/share/sounds/sf2/FluidR3_GM.sf2", f"{work}/long.mid"], check=True)
    info = subprocess.run(["soxi", wav], check=True, capture_output=True, text=True).stdout
    print("\n".join(line for line in info.splitlines()
                    if line.startswith(("Channels", "Sample Rate", "Duration"))))
    ours, theirs = [], []
    for _ in range(5):
        ours.append(timed([program, "--format=beats", wav, f"{work}/long.beats"]))
        theirs.append(timed(["aubio", "beat", wav]))
    for what, index in (("wall clock", 0), ("CPU", 1)):
        mine, aubio = min(t[index] for t in ours), min(t[index] for t in theirs)
        print(f"{what:10}  beatstamps1a --format=beats {mine:.3f} s, aubio beat {aubio:.3f} s: "
              f"ratio {mine / aubio:.2f} (at most 0.5 wanted)")

if __name__ == "__main__":
    main()
