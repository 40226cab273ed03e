#!/usr/bin/env python3
"""Compares the frames two panels sent the simulator, one for one, from dpx20sim's logs.

  compare_frames.py LIMIT_MS REFERENCE.log OTHER.log

Each log line is `ms <tab> recv|send|... <tab> text <tab> hex [<tab> note]`. The frames received
must be the same, in the same order, as many times each. The one exception is the link's resend:
when no reply byte has come LIMIT_MS after a frame was written, the link writes the same frame
once more. A repeated frame counts as such a resend only where the log shows why: the simulator
had sent the reply to the first one and the repeat came LIMIT_MS or more after the first, so the
reply reached the panel late. A frame sent twice on purpose (the synchronisation sends some
twice) comes right after the first one's reply and is matched one for one like any other.
Prints what was compared and every resend accepted; exit status 1 on a difference.
"""
import sys


def read_log(path):
    """The frames received, each as (ms, hex, text, ms of the reply sent after it or None)."""
    frames = []
    for line in open(path, encoding="utf-8", errors="replace"):
        fields = line.rstrip("\n").split("\t")
        if len(fields) < 4:
            continue
        ms, kind, text, hexbytes = float(fields[0]), fields[1], fields[2], fields[3]
        if kind == "recv":
            frames.append([ms, hexbytes, text, None])
        elif kind == "send" and frames and frames[-1][3] is None:
            frames[-1][3] = ms
    return frames


def late_resend(frames, i, limit_ms):
    """Why frame i is the link's resend of frame i - 1, or None if it is not one."""
    if i == 0 or frames[i][1] != frames[i - 1][1]:
        return None
    first, again = frames[i - 1], frames[i]
    if first[3] is None or again[0] - first[0] < limit_ms:
        return None
    return (f"{first[2]} at {first[0]:.1f} ms, replied at {first[3]:.1f} ms, again at {again[0]:.1f} ms "
            f"(+{again[0] - first[0]:.1f} ms)")


def main():
    limit_ms = float(sys.argv[1])
    ref, other = read_log(sys.argv[2]), read_log(sys.argv[3])
    i = j = 0
    resent = {"reference": [], "other": []}
    while i < len(ref) or j < len(other):
        if i < len(ref) and j < len(other) and ref[i][1] == other[j][1]:
            i, j = i + 1, j + 1
            continue
        why = late_resend(other, j, limit_ms) if j < len(other) else None
        if why:
            resent["other"].append(why)
            j += 1
            continue
        why = late_resend(ref, i, limit_ms) if i < len(ref) else None
        if why:
            resent["reference"].append(why)
            i += 1
            continue
        print(f"compare_frames: frame {j + 1} of {sys.argv[3]} differs from frame {i + 1} of {sys.argv[2]}:",
              file=sys.stderr)
        for name, frames, k in (("expected", ref, i), ("found   ", other, j)):
            near = [f"{f[2]}@{f[0]:.1f}" for f in frames[max(0, k - 2):k + 3]]
            print(f"  {name} {frames[k][2] if k < len(frames) else '(nothing)'}   near: {' '.join(near)}",
                  file=sys.stderr)
        return 1
    matched = len(ref) - len(resent["reference"])
    print(f"the same {matched} frames in the same order; resent after a late reply: "
          f"{len(resent['other'])} in {sys.argv[3].rsplit('/', 1)[-1]}, "
          f"{len(resent['reference'])} in {sys.argv[2].rsplit('/', 1)[-1]}")
    for name, whys in resent.items():
        for why in whys:
            print(f"  resent ({name}): {why}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
