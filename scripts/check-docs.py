#!/usr/bin/env python3
"""The docs against the code, for the static checks (scripts/static-checks.sh):
  names    every backticked name of the project's own code in README.md, docs/*.md and
           bench/README.md exists in the code (sources without their comments, tests,
           tools, scripts, CMake);
  numbers  every number the docs tie to a named constant is the constant's value, and a
           constant said to be in a file is defined there;
  methods  the docs' lists of methods are the method table's (src/services/Methods.def),
           and the callbacks the services send are the table's (scripts/check-demo.py
           holds the demo to it);
  map      docs/DESIGN.md gives no figure: a bound is named by its constant, so that
           the map cannot fall behind a changed value (a digit inside a name, as in
           AMF0 or UTF-8, is no figure).
One line per finding, FILE:LINE: what was found, what was expected; exit status 1 when
there is any. With --ties it also lists every number it found tied to a constant.

What counts as a name of the project's own code, inside `backticks` (fenced code blocks
are output and commands, and are left out):
  - an identifier with an inner capital (kMaxPendingCalls, CLauncherServices), with `::`
    (Transfer::finish) or with `_` (registered_, tovin_core), or a call name(); written
    with "..." after it (INTERNET_FLAG_...), it is the beginning of names;
  - a path under one of the project's folders (src/win/, scripts/test.sh, Transfer.*), or
    a file name with a source's extension (Pauses.h, run.py): a file of the repository,
    its template (version.h from version.h.in) or a name the code gives a file it makes.
Out of scope: what is written in angle brackets (<version>), a path with a part in
capitals that is no file's name (NAME.cpp, a placeholder), paths elsewhere and what the
build makes (build/, /proc/..., URLs, tools/tovin-lc.exe), std:: names, and the
platform's own names: a name that is not in the code but is a word of the mingw-w64
headers (WM_ENDSESSION, MiniDumpWriteDump) is the platform's. What is left is in NOT_OURS
below, each with its reason.

A number is tied to a constant when written `kName` (NUMBER UNIT), `kName`, NUMBER UNIT,
or NUMBER UNIT [up to four words] (`kName`): 1000 calls (`kMaxPendingCalls`),
`kNoFlashPlayerMs` (500 ms), three boxes (`SendOptions::kMaxCountedFailures`). Units: ms,
s, seconds, minutes; bytes, KiB, MiB, GiB; none; a constant's own unit is its name's
ending (Ms, Seconds, KiB). In the last form the number may be a word from one to twelve.
Constant expressions are worked out (1024 * 1024, other constants by name).

A constant said to be in a file, `kName` (`File.h`) or `kA`, `kB` and `kC` (`File.h`), is
defined in that file, and not there as another's name only (kSilenceMs = kBodySilenceMs).
The constants that bench/run.py reads (constant("...")) can be worked out.

A list of methods in the docs is marked, so that the check knows what it lists:
  <!-- methods: all -->  ...  <!-- /methods -->             every method of the table
  <!-- methods: silent --> ... <!-- /methods -->            those that answer nothing
  <!-- methods: serve-defaults --> ... <!-- /methods -->    those serve's defaults answer
The names in such a block are its backticked or bold names that begin with a capital. A
count of methods ("five methods") is the table's count.
    scripts/check-docs.py [--ties]
"""
import glob
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sourcefacts  # noqa: E402

ROOT = sourcefacts.ROOT
MINGW_HEADERS = ["/usr/share/mingw-w64/include", "/usr/x86_64-w64-mingw32/include", "/usr/i686-w64-mingw32/include"]
# Not code: the players' README, and these checks, which quote names as examples.
OWN_FILES = ("package/README.txt", "scripts/check-docs.py", "scripts/sourcefacts.py")
PROJECT_FOLDERS = ("src/", "tests/", "tools/", "scripts/", "docs/", "bench/", "fuzz/", "cmake/", "package/", ".ci/")
SOURCE_EXTENSIONS = ("h", "cpp", "def", "py", "sh", "md", "json", "cmake", "rc", "in", "scenario", "txt")

# Names in backticks that are neither the code's nor in the platform's headers. Keep short.
NOT_OURS = {
    "PascalCase": "the names of the naming conventions (docs/DESIGN.md, Names)",
    "camelCase": "the names of the naming conventions",
    "kPascalCase": "the names of the naming conventions",
    "DebugView": "the debugger-output viewer that tovin-lc trace stands beside",
    "ETag": "an HTTP header",
    "wait_for_withdrawn_state": "Wine's own message, quoted",
    "LICENSE.txt": "the package's copy of LICENSE, made by the packaging",
}

NUMBER_WORDS = {w: i for i, w in enumerate(
    "zero one two three four five six seven eight nine ten eleven twelve".split())}
NUMBER = r"(\d{1,3}(?:,\d{3})+|\d+(?:\.\d+)?|" + "|".join(NUMBER_WORDS) + r")"
UNIT = r"(ms|s|seconds?|minutes?|bytes?|KiB|MiB|GiB)?"
CONSTANT = r"((?:\w+::)*k[A-Z]\w*)"
DIGITS = r"(\d{1,3}(?:,\d{3})+|\d+(?:\.\d+)?)"
TIED_AFTER = re.compile(r"`" + CONSTANT + r"`\s*[(,]\s*" + DIGITS + r"(?:\s*" + UNIT + r")?\b")
TIED_BEFORE = re.compile(r"(?<![\w.,])" + NUMBER + r"(?:\s*" + UNIT + r")?(?:\s+[a-z][a-z'-]*){0,4}\s*\(`" + CONSTANT
                         + r"`")
SCALE = {None: 1, "ms": 1, "s": 1000, "second": 1000, "seconds": 1000, "minute": 60000, "minutes": 60000,
         "byte": 1, "bytes": 1, "KiB": 1024, "MiB": 1024 ** 2, "GiB": 1024 ** 3}
TIMES = ("ms", "s", "second", "seconds", "minute", "minutes")

WHERE_DEFINED = re.compile(r"((?:`" + CONSTANT + r"`(?:\s*\([^()`]*\))?(?:,\s*|\s+and\s+|\s+or\s+))*`" + CONSTANT +
                           r"`)\s*\((?:[^()`]*?,\s*)?`([\w.]+\.(?:h|cpp))`\)")
MARK = re.compile(r"<!--\s*(/?)methods(?::\s*([\w-]+))?\s*-->")


class Findings:
    def __init__(self):
        self.lines = []

    def add(self, where, text):
        self.lines.append(f"{where}: {text}")


def docs():
    found = ["README.md", "bench/README.md"] + sorted(os.path.relpath(p, ROOT)
                                                      for p in glob.glob(os.path.join(ROOT, "docs", "*.md")))
    return [p for p in found if os.path.exists(os.path.join(ROOT, p))]


def prose(text):
    """The text with fenced code blocks blanked out, newlines kept (so offsets keep their
    line numbers)."""
    out, fence = [], None
    for line in text.split("\n"):
        stripped = line.lstrip()
        opener = re.match(r"(`{3,}|~{3,})", stripped)
        if fence is None and opener:
            fence = opener.group(1)
            out.append("")
        elif fence is not None:
            if stripped.startswith(fence):
                fence = None
            out.append("")
        else:
            out.append(line)
    return "\n".join(out)


def spans(text):
    """(offset, content) of each inline code span; a span does not cross a blank line."""
    for match in re.finditer(r"(`+)(?!`)((?:(?!\n\s*\n).)+?)(?<!`)\1(?!`)", text, re.S):
        yield match.start(2), match.group(2)


def line_of(text, offset):
    return text.count("\n", 0, offset) + 1


def without_comments(path, text):
    """C++ sources without their comments: a name left in a comment after a rename is
    no longer the code's."""
    if not path.endswith((".h", ".cpp", ".def")):
        return text
    return re.sub(r"//[^\n]*|/\*.*?\*/", " ", text, flags=re.S)


class Code:
    """The words of the code: every tracked file but the docs and these checks, as text
    (C++ without its comments)."""

    def __init__(self):
        self.files = sourcefacts.tracked(".")
        self.words_by_file = {}
        self.words = set()
        self.texts = []
        for path in self.files:
            if path.endswith(".md") or path.startswith(("docs/", "fuzz/corpus/")) or path in OWN_FILES:
                continue
            try:
                with open(os.path.join(ROOT, path), encoding="utf-8") as f:
                    text = without_comments(path, f.read())
            except (UnicodeDecodeError, OSError):
                continue
            words = set(re.findall(r"[A-Za-z_~]\w*", text))
            self.words_by_file[path] = words
            self.words |= words
            self.texts.append(text)
        self.basenames = {os.path.basename(p) for p in self.files}
        self.folders = {os.path.dirname(p) + "/" for p in self.files}
        self.folders |= {f[:i + 1] for f in list(self.folders) for i, c in enumerate(f) if c == "/"}

    def has_qualified(self, name):
        parts = [p for p in name.split("::") if p]
        if any(name in text for text in self.texts):
            return True
        return any(all(p in words for p in parts) for words in self.words_by_file.values())

    def has_path(self, path):
        if path.endswith("/"):
            return path in self.folders
        if any(c in path for c in "*?["):
            pattern = re.compile(glob.translate(path) if hasattr(glob, "translate") else
                                 "^" + re.escape(path).replace(r"\*", "[^/]*").replace(r"\?", ".") + "$")
            return any(pattern.match(p) for p in self.files)
        return path in self.files or path + "/" in self.folders

    def has_file(self, name):
        """A file of that name (or its .in template), or a name the code gives a file it makes."""
        if "*" in name:
            pattern = re.compile("^" + re.escape(name).replace(r"\*", ".*") + "$")
            return any(pattern.match(b) for b in self.basenames)
        return name in self.basenames or name + ".in" in self.basenames or any(name in t for t in self.texts)

    def placeholder(self, path):
        """A path with a part in capitals that is no file's name: NAME.cpp, FOLDER/."""
        stems = {b.split(".")[0] for b in self.basenames}
        return any(len(s) > 1 and s.isupper() and s not in stems
                   for s in (part.split(".")[0] for part in path.split("/")))


def platform_words(names):
    """The names that are whole words of the mingw-w64 headers (one grep over them)."""
    folders = [f for f in MINGW_HEADERS if os.path.isdir(f)]
    if not names or not folders:
        return set()
    run = subprocess.run(["grep", "-rhowF", "--include=*.h", "-f", "-", *folders], input="\n".join(sorted(names)),
                         capture_output=True, text=True, check=False)
    return set(run.stdout.split())


def platform_prefix(prefix):
    """Whether a name of the mingw-w64 headers begins so (INTERNET_FLAG_...)."""
    folders = [f for f in MINGW_HEADERS if os.path.isdir(f)]
    return bool(folders) and subprocess.run(["grep", "-rqE", "--include=*.h", r"\b" + re.escape(prefix), *folders],
                                            check=False).returncode == 0


INNER_CAPITAL = re.compile(r"[a-z0-9][A-Z]")
PATH = re.compile(r"[\w.*%$~-]*(?:/[\w.*%$~-]*)+")
FILE = re.compile(r"(?<![\w/.-])\.?[\w*-]+(?:\.[\w*-]+)*\.(?:" + "|".join(SOURCE_EXTENSIONS) + r")\b(?![/\w])")
IDENTIFIER = re.compile(r"(?<![\w.])(~?[A-Za-z_]\w*(?:::~?[A-Za-z_]\w*)*)(\(\)|\.\.\.)?")


def names_in(span):
    """(kind, name) of what a span names of the project's own code: path, file or name."""
    text = re.sub(r"<[^<>\s][^<>]*>", " ", span)  # placeholders
    text = re.sub(r"\\x\w+|(?<![\w-])-D(?=[A-Z])", " ", text)  # \xNN; a CMake -D option
    found = []
    for match in PATH.finditer(text):
        path = match.group(0).rstrip(".:,;")
        last = path.rstrip("/").rsplit("/", 1)[-1]
        built = "." in last and not last.endswith(tuple("." + e for e in SOURCE_EXTENSIONS))
        if path.startswith(PROJECT_FOLDERS) and not built:
            found.append(("path", path))
    text = PATH.sub(" ", text)
    for match in FILE.finditer(text):
        found.append(("file", match.group(0)))
    text = FILE.sub(" ", text)
    for match in IDENTIFIER.finditer(text):
        name, after = match.group(1), match.group(2)
        if name.startswith("std::") or name.startswith("nlohmann::"):
            continue
        bare = name.lstrip("_").rstrip("_")
        if "::" in name or "_" in bare or name.endswith("_") or INNER_CAPITAL.search(name) or after == "()":
            found.append(("prefix" if after == "..." else "name", name))
    return found


def check_names(findings, code, files):
    unresolved = []  # (where, kind, name)
    for path in files:
        with open(os.path.join(ROOT, path), encoding="utf-8") as f:
            text = prose(f.read())
        for offset, span in spans(text):
            for kind, name in names_in(span):
                where = f"{path}:{line_of(text, offset)}"
                if name in NOT_OURS:
                    continue
                if kind == "path":
                    if not code.has_path(name) and not code.placeholder(name):
                        findings.add(where, f"`{name}` is no file or folder of the repository")
                elif kind == "file":
                    if not code.has_file(name) and not code.placeholder(name):
                        findings.add(where, f"`{name}` is no file of the repository, nor named in the code")
                elif kind == "prefix":
                    if not any(w.startswith(name) for w in code.words) and not platform_prefix(name):
                        findings.add(where, f"`{name}...` begins no name of the code or the platform")
                elif "::" in name:
                    if not code.has_qualified(name):
                        unresolved.append((where, name))
                elif name not in code.words:
                    unresolved.append((where, name))
    platform = platform_words({n for _, n in unresolved if "::" not in n})
    for where, name in unresolved:
        if name not in platform:
            findings.add(where, f"`{name}` names nothing in the code (sources, tests, tools, scripts, CMake); "
                                "renamed or removed?")


def shown(value):
    return str(value) if isinstance(value, int) else f"{value:g}"


def check_numbers(findings, constants, files, show=False):
    for path in files:
        with open(os.path.join(ROOT, path), encoding="utf-8") as f:
            text = prose(f.read())
        ties = []
        for match in TIED_AFTER.finditer(text):
            ties.append((match.start(), match.group(1), match.group(2), match.group(3)))
        for match in TIED_BEFORE.finditer(text):
            ties.append((match.start(), match.group(3), match.group(1), match.group(2)))
        for offset, name, number, unit in ties:
            where = f"{path}:{line_of(text, offset)}"
            said = NUMBER_WORDS.get(number)
            if said is None:
                said = float(number.replace(",", ""))
            try:
                value = constants.value(name)
            except ValueError as fault:
                findings.add(where, f"{number}{' ' + unit if unit else ''} is tied to `{name}`: {fault}")
                continue
            found = constants.find(name)
            if show:
                print(f"{where}: {number}{' ' + unit if unit else ''} = `{name}` ({shown(value)})")
            base = found[0].unit() if found else None
            wanted = said * SCALE[unit]
            actual = value * SCALE.get(base, 1) if (unit in TIMES) == (base in TIMES) else value
            if abs(wanted - actual) > 1e-9 * max(1, abs(actual)):
                findings.add(where, f"says {number}{' ' + unit if unit else ''} for `{name}`, which is "
                                    f"{shown(value)}{' ' + base if base else ''} ({found[0].where()})")


def check_where_defined(findings, constants, files):
    for path in files:
        with open(os.path.join(ROOT, path), encoding="utf-8") as f:
            text = prose(f.read())
        for match in WHERE_DEFINED.finditer(text):
            where = f"{path}:{line_of(text, match.start())}"
            file = match.group(4)
            for name in re.findall(r"`(" + CONSTANT + r")`", match.group(1)):
                name = name[0]
                found = constants.find(name)
                here = [c for c in found if os.path.basename(c.path) == file]
                if not found:
                    continue  # the name check reports it
                if not here:
                    findings.add(where, f"`{name}` is said to be in `{file}`; it is in " +
                                 ", ".join(c.where() for c in found))
                    continue
                alias = re.fullmatch(r"(?:\w+::)*(k[A-Z]\w*)", here[0].expression)
                if alias:
                    origin = constants.find(alias.group(1))
                    findings.add(where, f"`{name}` is said to be in `{file}`, which only names {alias.group(1)} "
                                        f"({here[0].where()}); its value is set in " +
                                 ", ".join(c.where() for c in origin))


def check_bench_constants(findings, constants):
    path = "bench/run.py"
    with open(os.path.join(ROOT, path)) as f:
        for number, line in enumerate(f, 1):
            for name in re.findall(r'\bconstant\("([\w:]+)"\)', line):
                try:
                    constants.value(name)
                except ValueError as fault:
                    findings.add(f"{path}:{number}", f"reads the constant {name}: {fault}")


def block_names(block):
    names = set()
    for _, span in spans(block):
        match = re.fullmatch(r"([A-Z]\w*)(?:\(.*\))?", span.strip())
        if match:
            names.add(match.group(1))
    names |= set(re.findall(r"\*\*([A-Z]\w*)\*\*", block))
    return names


def check_method_lists(findings, rows, files):
    kinds = {
        "all": ({r.name for r in rows}, "every method of the table"),
        "silent": ({r.name for r in rows if not r.answers}, "the methods that answer nothing"),
        "serve-defaults": ({r.name for r in rows if r.serve_default is not None}, "the methods serve's defaults answer"),
    }
    every = {r.name for r in rows}
    for path in files:
        with open(os.path.join(ROOT, path), encoding="utf-8") as f:
            text = prose(f.read())
        opened = None
        quoted = [(start, start + len(span)) for start, span in spans(text)]
        for mark in MARK.finditer(text):
            if any(start <= mark.start() < end for start, end in quoted):
                continue  # a marker quoted in the text, not one
            where = f"{path}:{line_of(text, mark.start())}"
            if not mark.group(1):
                if opened:
                    findings.add(where, "a methods list opens inside another")
                if mark.group(2) not in kinds:
                    findings.add(where, f"methods list of unknown kind {mark.group(2)!r} (all, silent, serve-defaults)")
                    continue
                opened = (mark, where)
                continue
            if not opened:
                findings.add(where, "<!-- /methods --> closes no list")
                continue
            start, start_where = opened
            opened = None
            wanted, what = kinds[start.group(2)]
            listed = block_names(text[start.end():mark.start()])
            for name in sorted(wanted - listed):
                row = next(r for r in rows if r.name == name)
                findings.add(start_where, f"the list of {what} lacks `{name}` ({row.where()})")
            for name in sorted(listed - wanted):
                findings.add(start_where, f"the list of {what} has `{name}`, which is " +
                             ("not one of them" if name in every else "no method of the table") +
                             f" ({sourcefacts.METHODS_DEF})")
        if opened:
            findings.add(opened[1], "a methods list is not closed (<!-- /methods -->)")
        for match in re.finditer(r"\b" + NUMBER + r" methods\b", text):
            count = NUMBER_WORDS.get(match.group(1), match.group(1))
            if str(count) != str(len(rows)):
                findings.add(f"{path}:{line_of(text, match.start())}",
                             f"says {match.group(0)}; the table has {len(rows)} ({sourcefacts.METHODS_DEF})")


def check_sent_callbacks(findings, rows, unknown):
    """The callbacks the services send are the table's, and the table's are sent."""
    table = {a for r in rows for a in r.answers} | {unknown}
    sent = {}
    for path in sourcefacts.tracked("src/services", "src/launcher"):
        if not path.endswith(".cpp"):
            continue
        with open(os.path.join(ROOT, path)) as f:
            for number, line in enumerate(f, 1):
                for callback in re.findall(r'"(on[A-Z]\w*)"', line):
                    sent.setdefault(callback, f"{path}:{number}")
    for callback, where in sorted(sent.items()):
        if callback not in table:
            findings.add(where, f"sends {callback}, which no row of {sourcefacts.METHODS_DEF} answers")
    for row in rows:
        for callback in row.answers:
            if callback not in sent:
                findings.add(row.where(), f"{row.name} answers {callback}, which no service in src/services sends")


MAP = "docs/DESIGN.md"
FIGURE = re.compile(r"(?<![\w.-])\d+(?:[.,]\d+)*(?![\w-])")


def check_map_has_no_figures(findings):
    path = os.path.join(ROOT, MAP)
    if not os.path.exists(path):
        return
    with open(path, encoding="utf-8") as f:
        text = prose(f.read())
    for match in FIGURE.finditer(text):
        findings.add(f"{MAP}:{line_of(text, match.start())}",
                     f"gives the figure {match.group(0)}; name the constant instead")


def main():
    findings = Findings()
    table = sourcefacts.method_table("check-docs")
    if table is None:
        return 1
    rows, unknown = table
    files = docs()
    code = Code()
    check_names(findings, code, files)
    constants = sourcefacts.Constants()
    check_numbers(findings, constants, files, "--ties" in sys.argv[1:])
    check_where_defined(findings, constants, files)
    check_bench_constants(findings, constants)
    check_method_lists(findings, rows, files)
    check_sent_callbacks(findings, rows, unknown)
    check_map_has_no_figures(findings)
    for line in findings.lines:
        print(line, file=sys.stderr)
    if findings.lines:
        print(f"check-docs: {len(findings.lines)} finding(s); the rules are in scripts/check-docs.py's header",
              file=sys.stderr)
        return 1
    print(f"check-docs: {', '.join(files)} agree with the code")
    return 0


if __name__ == "__main__":
    sys.exit(main())
