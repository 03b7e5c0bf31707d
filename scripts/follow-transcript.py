#!/usr/bin/env python3
"""Prints the stand-in game's transcript as it grows, one line at a time, in UTF-8 (as the
game writes it; a byte that is not UTF-8 shows as U+FFFD) and flushed at once, whatever
standard output is (terminal, pipe or file). Ends at the game's "end" line, or once the launcher has
ended (DONE holds its exit status) and nothing more comes; then prints one summary line.
Exit status 0 when the conversation ran to its end.
    follow-transcript.py TRANSCRIPT DONE"""
import os
import re
import sys
import time

CALL = re.compile(r"call \w+\(")
ANSWER = re.compile(r"answer \S+ \w+\(")
POLL = 0.05  # seconds between looks at the file
GRACE = 10.0  # seconds to wait for the end line once the launcher has ended


def main():
    transcript, done = sys.argv[1], sys.argv[2]
    out = sys.stdout.buffer
    start = time.monotonic()
    calls = answers = 0
    end = None
    pending = b""
    ended_at = None
    with open(transcript, "rb") as f:
        while end is None:
            chunk = f.read()
            if chunk:
                pending += chunk
                *lines, pending = pending.split(b"\n")
                for raw in lines:
                    line = raw.rstrip(b"\r").decode("utf-8", errors="replace")
                    calls += bool(CALL.match(line))
                    answers += bool(ANSWER.match(line))
                    out.write(f"[{time.monotonic() - start:6.2f} s] {line}\n".encode("utf-8"))
                    out.flush()
                    if line.startswith("end "):
                        end = line[4:]
                        break
                continue
            if ended_at is None and os.path.exists(done) and os.path.getsize(done) > 0:
                ended_at = time.monotonic()
            if ended_at is not None and time.monotonic() - ended_at > GRACE:
                break
            time.sleep(POLL)
    seconds = time.monotonic() - start
    outcome = "ran to its end" if end == "0" else "did not finish"
    summary = f"demo: the conversation {outcome}: {calls} calls made, {answers} answers received, {seconds:.1f} s\n"
    out.write(summary.encode("utf-8"))
    out.flush()
    return 0 if end == "0" else 1


if __name__ == "__main__":
    sys.exit(main())
