#!/usr/bin/env python3
"""What the speakers played, against what the window showed.

  speakers.py record SINK RAW START   records SINK's monitor (mono, 16 bit, 48 kHz) into
                                      RAW until stopped (SIGTERM), and writes into START
                                      the monotonic time of the recording's first sample
  speakers.py offset RAW START LOG    finds the clicks in the recording and, for each, the
                                      frame the window showed then (LOG: the program's
                                      "[Shown] <monotonic seconds> <video seconds>" lines);
                                      prints how long after that frame first appeared the
                                      click was heard

The recording's start is the tightest bound its reads give: a read at time t holding n
samples in all cannot have begun after t - n / rate, and the earliest such bound over the
whole recording is where the first sample was played.
"""
import array
import bisect
import signal
import subprocess
import sys
import time

RATE = 48000
CLICKS_PER_SECOND = 1
CLICK_AT = 0.52  # seconds into each second of the video: the start of its 14th frame


def record(sink, raw_path, start_path):
    parec = subprocess.Popen(["parec", "-d", sink + ".monitor", "--format=s16le", "--rate=%d" % RATE,
                              "--channels=1", "--latency-msec=5"], stdout=subprocess.PIPE)
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(True))
    start = None
    total = 0
    with open(raw_path, "wb") as out:
        while not stop:
            chunk = parec.stdout.read1(4096)
            now = time.monotonic()
            if not chunk:
                break
            out.write(chunk)
            total += len(chunk) // 2
            bound = now - total / RATE
            start = bound if start is None else min(start, bound)
            if start is not None:
                with open(start_path, "w") as f:
                    f.write("%.6f\n" % start)
    parec.terminate()
    parec.wait()


def clicks(samples):
    """Sample indices where a click starts: loud after a quarter second of quiet."""
    found, quiet = [], 0
    for i, v in enumerate(samples):
        if abs(v) < 3000:
            quiet += 1
            continue
        if quiet >= RATE // 4:
            found.append(i)
        quiet = 0
    return found


def offset(raw_path, start_path, log_path):
    samples = array.array("h")
    with open(raw_path, "rb") as f:
        samples.frombytes(f.read())
    start = float(open(start_path).read())
    shown = []  # (monotonic seconds, video seconds), in order
    for line in open(log_path, errors="replace"):
        if line.startswith("[Shown] "):
            wall, video = line.split()[1:3]
            shown.append((float(wall), float(video)))
    if not shown:
        print("[Bench] sound against picture: no frames were shown while playing")
        return
    walls = [w for w, _ in shown]
    first_shown = {}
    for wall, video in shown:
        first_shown.setdefault(round(video * 1000), wall)
    offsets = []
    for index in clicks(samples):
        heard = start + index / RATE
        at = bisect.bisect_right(walls, heard) - 1
        if at < 0 or heard - walls[-1] > 1.0:
            continue  # before play started or after it ended
        # The click belongs to the second of video on screen now (within a second).
        second = round(shown[at][1] - CLICK_AT)
        wall = first_shown.get(round((second + CLICK_AT) * 1000))
        if wall is not None:
            offsets.append((heard - wall) * 1000.0)
    if len(offsets) < 3:
        print("[Bench] sound against picture: only %d clicks found in the recording" % len(offsets))
        return
    offsets.sort()
    # The first clicks come while the sound server's queue fills; they are in the range.
    median = offsets[len(offsets) // 2]
    print("[Bench] sound against picture, measured at the speakers: each click heard %.1f ms (median) after its "
          "frame appeared, from %.1f to %.1f ms over %d clicks (target: within 40 ms, one frame at 25 fps)"
          % (median, offsets[0], offsets[-1], len(offsets)))


if __name__ == "__main__":
    if len(sys.argv) == 5 and sys.argv[1] == "record":
        record(*sys.argv[2:])
    elif len(sys.argv) == 5 and sys.argv[1] == "offset":
        offset(*sys.argv[2:])
    else:
        sys.exit(__doc__)
