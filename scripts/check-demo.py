#!/usr/bin/env python3
"""The demo against the method table (src/services/Methods.def).
    check-demo.py            the scenario (tools/standin/demo.scenario): it calls every
                             method of the table and a name that is none, and what it
                             expects of each call is what the table gives that method: an
                             `answer MS CALLBACK` with one of its callbacks, or `no-answer`
                             for a method that answers nothing (static checks);
    check-demo.py LOG        that, and the demo's output (scripts/demo.sh) held to the
                             scenario: each call in order, each with the outcome expected,
                             and a summary that counts them (the test command).
One line per finding; exit status 1 when there is any.
"""
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sourcefacts  # noqa: E402

SCENARIO = "tools/standin/demo.scenario"
# The stand-in's commands (tools/standin/Scenario.h); call@REPLY is a call too.
COMMANDS = {"pid", "sleep", "wait-title", "report-windows", "mode", "exit", "flash", "slot-free", "listen", "register",
            "table", "call", "call-bare", "post", "wait-file", "answer", "answer-bytes", "no-answer", "dialog-pick",
            "dialog-cancel", "flood"}
NOTHING = None  # the outcome of a call that answers nothing


def commands(text):
    """(line number, words) of each command, split as the stand-in splits them: by lines
    and by ';' outside quotes, '#' lines left out."""
    found = []
    for number, line in enumerate(text.split("\n"), 1):
        part, quoted, escaped = "", False, False
        for c in line + ";":
            if c == "\\" and quoted and not escaped:
                escaped = True
                part += c
                continue
            if c == '"' and not escaped:
                quoted = not quoted
            escaped = False
            if c == ";" and not quoted:
                words = part.split()
                if words and not words[0].startswith("#"):
                    found.append((number, words))
                part = ""
            else:
                part += c
    return found


def expected_calls(findings, rows, unknown):
    """The scenario's calls in order: (line, method, expected outcome)."""
    by_name = {r.name: r for r in rows}
    with open(os.path.join(sourcefacts.ROOT, SCENARIO)) as f:
        text = f.read()
    calls, pending = [], None

    def close(line):
        if pending:
            findings.append(f"{SCENARIO}:{pending[0]}: call {pending[1]} is followed by no answer or no-answer "
                            f"before line {line}: say what the demo expects of it")

    for line, words in commands(text):
        name = words[0]
        if name.split("@")[0] not in COMMANDS:
            findings.append(f"{SCENARIO}:{line}: {name} is no command of the stand-in (tools/standin/Scenario.h); "
                            "a ';' in a comment starts a command")
        if name.startswith("call") and name != "call-bare":
            close(line)
            pending = (line, words[1] if len(words) > 1 else "")
        elif name in ("answer", "no-answer") and pending:
            call_line, method = pending
            pending = None
            row = by_name.get(method)
            wanted = (row.answers if row else [unknown])
            where = f"{SCENARIO}:{line}"
            if name == "no-answer":
                if wanted:
                    findings.append(f"{where}: expects no answer to {method}, which the table answers "
                                    f"{' or '.join(wanted)} ({row.where() if row else 'no row: ' + unknown})")
                calls.append((call_line, method, NOTHING))
                continue
            callback = words[2] if len(words) > 2 else None
            if not wanted:
                findings.append(f"{where}: expects an answer to {method}, which answers nothing ({row.where()})")
            elif callback is None:
                findings.append(f"{where}: answer without the callback expected of {method} "
                                f"(one of {', '.join(wanted)})")
            elif callback not in wanted:
                findings.append(f"{where}: expects {callback} of {method}, which the table answers "
                                f"{' or '.join(wanted)} ({row.where() if row else 'no row: ' + unknown})")
            calls.append((call_line, method, callback))
    close("the end")
    called = {method for _, method, _ in calls}
    for row in rows:
        if row.name not in called:
            findings.append(f"{SCENARIO}: the demo never calls {row.name} ({row.where()})")
    if not called - set(by_name):
        findings.append(f"{SCENARIO}: the demo calls no method that is none of the table's (answered {unknown})")
    return calls


def check_log(findings, log, calls):
    """The demo's output: the calls and their outcomes as the scenario expects them."""
    seen = []  # [method, outcome]
    summary = None
    with open(log, encoding="utf-8", errors="replace") as f:
        for number, line in enumerate(f, 1):
            text = re.sub(r"^\[\s*[\d.]+ s\] ", "", line.rstrip("\n"))
            if re.match(r"call \w+\(", text):
                seen.append([text[5:text.index("(")], "(none yet)", number])
            elif seen and seen[-1][1] == "(none yet)" and re.match(r"answer \S+ \w+\(", text):
                seen[-1][1] = text.split()[2].split("(")[0]
            elif seen and seen[-1][1] == "(none yet)" and text == "no answer":
                seen[-1][1] = NOTHING
            elif text.startswith("unexpected answer"):
                findings.append(f"{log}:{number}: {text}")
            elif text.startswith("demo: the conversation"):
                summary = (number, text)
    for i in range(max(len(calls), len(seen))):
        if i >= len(seen):
            findings.append(f"{log}: the demo made no call {calls[i][1]} ({SCENARIO}:{calls[i][0]})")
            continue
        method, outcome, number = seen[i]
        if i >= len(calls):
            findings.append(f"{log}:{number}: call {method}, which the scenario does not make")
            continue
        call_line, wanted_method, wanted = calls[i]
        if method != wanted_method:
            findings.append(f"{log}:{number}: call {method} where {SCENARIO}:{call_line} calls {wanted_method}")
        elif outcome != wanted:
            said = "no answer" if outcome is NOTHING else outcome
            findings.append(f"{log}:{number}: {method} was answered {said}, expected "
                            f"{'no answer' if wanted is NOTHING else wanted} ({SCENARIO}:{call_line})")
    answers = sum(1 for _, wanted in ((c[1], c[2]) for c in calls) if wanted is not NOTHING)
    counts = f"{len(calls)} calls made, {answers} answers received, "
    if not summary or not summary[1].startswith("demo: the conversation ran to its end: " + counts):
        findings.append(f"{log}:{summary[0] if summary else 'end'}: the summary should read \"demo: the conversation "
                        f"ran to its end: {counts}...\"; it reads {summary[1] if summary else 'nothing'!r}")


def main():
    findings = []
    table = sourcefacts.method_table("check-demo")
    if table is None:
        return 1
    rows, unknown = table
    calls = expected_calls(findings, rows, unknown)
    if len(sys.argv) > 1:
        check_log(findings, sys.argv[1], calls)
    for line in findings:
        print(line, file=sys.stderr)
    if findings:
        return 1
    what = f"the demo's output ({sys.argv[1]}) as its scenario expects" if len(sys.argv) > 1 else \
        "the demo's scenario"
    print(f"check-demo: {what}, against the method table: {len(calls)} calls, all as expected")
    return 0


if __name__ == "__main__":
    sys.exit(main())
