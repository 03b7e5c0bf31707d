"""What the sources say, for the scripts that check or measure against them: the method
table (src/services/Methods.def) and the named constants of the C++ sources, with their
values worked out. Standard library only; imported by scripts/check-docs.py,
scripts/check-demo.py and bench/run.py.
"""
import ast
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
METHODS_DEF = "src/services/Methods.def"
METHODS_H = "src/services/Methods.h"

ROW = re.compile(r'^TOVIN_METHOD\((\w+),\s*"([^"]*)",\s*(nullptr|"[^"]*")\)$')


class Method:
    def __init__(self, name, answers, serve_default, line):
        self.name = name
        self.answers = answers  # the callbacks it may send; empty: it answers nothing
        self.serve_default = serve_default  # a callback, "" for no answer, None for no rule
        self.line = line

    def where(self):
        return f"{METHODS_DEF}:{self.line}"


def methods():
    """The rows of the method table, in their order. A line that is neither a row, a
    comment nor the closing #undef raises ValueError: the table stays this plain."""
    rows = []
    with open(os.path.join(ROOT, METHODS_DEF)) as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line or line.startswith("//") or line == "#undef TOVIN_METHOD":
                continue
            match = ROW.match(line)
            if not match:
                raise ValueError(f"{METHODS_DEF}:{number}: not a row TOVIN_METHOD(NAME, \"ANSWERS\", DEFAULT) "
                                 f"on one line: {line}")
            default = None if match.group(3) == "nullptr" else match.group(3)[1:-1]
            rows.append(Method(match.group(1), match.group(2).split(), default, number))
    return rows


def unknown_method_answer():
    """The answer to a method that is no row's (kUnknownMethodAnswer)."""
    with open(os.path.join(ROOT, METHODS_H)) as f:
        return re.search(r'kUnknownMethodAnswer\[\] = "(\w+)";', f.read()).group(1)


def method_table(tool):
    """The method table's rows and the answer to any other method, or None once `tool` has
    said on standard error why the table cannot be read."""
    try:
        return methods(), unknown_method_answer()
    except (ValueError, AttributeError) as fault:
        print(f"{tool}: the method table cannot be read: {fault}", file=sys.stderr)
        return None


def tracked(*folders):
    """The repository's files under these folders ("." for all), relative to ROOT: git's
    list, or outside a clone every file but the builds'."""
    try:
        listed = subprocess.run(["git", "ls-files", "--", *folders], cwd=ROOT, capture_output=True, text=True,
                                check=True).stdout.splitlines()
    except (OSError, subprocess.CalledProcessError):
        listed = []
        for folder in folders:
            for top, subfolders, files in os.walk(os.path.join(ROOT, folder)):
                subfolders[:] = [s for s in subfolders if s not in (".git", "build")]
                listed += [os.path.relpath(os.path.join(top, f), ROOT) for f in files]
    return [path for path in listed if os.path.isfile(os.path.join(ROOT, path))]


# --- Named constants -------------------------------------------------------------------

CONSTANT = re.compile(r"\bconstexpr\b[^;=(){}]*?\b(k[A-Z]\w*)\s*(?:\[\])?\s*=\s*([^;{}]+);")
SCOPE = re.compile(r"\b(namespace|class|struct)\s+([A-Za-z_][\w:]*)[^;{}()]*$")


def _blank_literals(text):
    """The text with comments and the insides of string and character literals replaced by
    spaces (newlines kept), so that braces and semicolons in them mislead nothing."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            end = text.find("\n", i)
            end = n if end < 0 else end
            out.append(" " * (end - i))
            i = end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            out.append(re.sub(r"[^\n]", " ", text[i:end]))
            i = end
        elif c == "R" and text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            open_paren = text.find("(", i + 2)
            delimiter = ")" + text[i + 2:open_paren] + '"'
            end = text.find(delimiter, open_paren)
            end = n if end < 0 else end + len(delimiter)
            out.append('""' + re.sub(r"[^\n]", " ", text[i + 2:end]))
            i = end
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            out.append(c + " " * (min(j, n) - i - 1) + c)
            i = j + 1
        else:
            out.append(c)
            i += 1
    return "".join(out)


class Constant:
    def __init__(self, name, scopes, expression, path, line):
        self.name = name
        self.scopes = scopes  # enclosing namespaces and classes, outermost first
        self.expression = expression.strip()
        self.path = path
        self.line = line

    def where(self):
        return f"{self.path}:{self.line}"

    def unit(self):
        """The unit its name gives: ms, s, KiB or none."""
        for suffix, unit in (("Ms", "ms"), ("Seconds", "s"), ("KiB", "KiB")):
            if self.name.endswith(suffix):
                return unit
        return None


def _constants_of(path):
    with open(os.path.join(ROOT, path), encoding="utf-8", errors="replace") as f:
        raw = f.read()
    text = _blank_literals(raw)
    found = []
    stack = []  # one entry per open brace: a scope name, or None
    position = 0
    for match in re.finditer(r"[{};]|\bconstexpr\b", text):
        token = match.group(0)
        if token == "{":
            head = text[position:match.start()]
            scope = SCOPE.search(head)
            stack.append(scope.group(2) if scope else None)
            position = match.end()
        elif token == "}":
            if stack:
                stack.pop()
            position = match.end()
        elif token == ";":
            position = match.end()
        else:
            definition = CONSTANT.match(text, match.start())
            if definition:
                # The expression as written (literals included), from the original text.
                expression = raw[definition.start(2):definition.end(2)]
                line = raw.count("\n", 0, match.start()) + 1
                scopes = [s for s in stack if s]
                found.append(Constant(definition.group(1), scopes, expression, path, line))
    return found


class Constants:
    """Every constexpr kName of the C++ sources (src, tools, tests, fuzz, bench)."""

    def __init__(self):
        self.by_name = {}
        for path in tracked("src", "tools", "tests", "fuzz", "bench"):
            if path.endswith((".h", ".cpp")):
                for constant in _constants_of(path):
                    self.by_name.setdefault(constant.name, []).append(constant)

    def find(self, qualified, near=None):
        """The definitions a name may mean: `X::kY` those inside a scope X; a bare name
        those in `near`'s file first, else all."""
        *qualifiers, name = qualified.split("::")
        found = self.by_name.get(name, [])
        if qualifiers:
            found = [c for c in found if c.scopes[-len(qualifiers):] == qualifiers or
                     "::".join(c.scopes).endswith("::".join(qualifiers))]
        if near and len(found) > 1:
            local = [c for c in found if c.path == near]
            found = local or found
        return found

    def value(self, qualified, near=None, seen=()):
        """The value of a named constant, its expression worked out (integers and doubles,
        + - * / % << >> and parentheses, other constants by name); ValueError when it
        cannot be, or when its definitions disagree."""
        found = self.find(qualified, near)
        if not found:
            raise ValueError(f"no constant {qualified}")
        values = {}
        for constant in found:
            if constant.where() in seen:
                raise ValueError(f"{qualified} is defined by itself")
            values[constant.where()] = self.evaluate(constant.expression, constant.path, seen + (constant.where(),))
        if len(set(values.values())) > 1:
            raise ValueError(f"{qualified} has several values: " +
                             ", ".join(f"{v:g} ({w})" for w, v in values.items()))
        return next(iter(values.values()))

    def evaluate(self, expression, path=None, seen=()):
        text = re.sub(r"static_cast<[^>]*>", "", expression)
        text = re.sub(r"\b(0[xX][0-9a-fA-F]+|\d+(?:\.\d*)?)(?:[uU]|[lL]{1,2}|[uU][lL]{1,2}|[lL]{1,2}[uU])\b", r"\1",
                      text)
        names = {}

        def name(match):
            key = f"_n{len(names)}"
            names[key] = match.group(0)
            return key

        text = re.sub(r"(?<![\w.])(?:[A-Za-z_]\w*::)*[A-Za-z_]\w*", name, text)
        try:
            tree = ast.parse(text.strip(), mode="eval")
        except SyntaxError:
            raise ValueError(f"cannot work out {expression!r}") from None

        def walk(node):
            if isinstance(node, ast.Expression):
                return walk(node.body)
            if isinstance(node, ast.Constant) and isinstance(node.value, (int, float)):
                return node.value
            if isinstance(node, ast.Name) and node.id in names:
                return self.value(names[node.id], path, seen)
            if isinstance(node, ast.UnaryOp) and isinstance(node.op, (ast.USub, ast.UAdd)):
                value = walk(node.operand)
                return -value if isinstance(node.op, ast.USub) else value
            if isinstance(node, ast.BinOp):
                left, right = walk(node.left), walk(node.right)
                operations = {ast.Add: lambda: left + right, ast.Sub: lambda: left - right,
                              ast.Mult: lambda: left * right, ast.Mod: lambda: left % right,
                              ast.LShift: lambda: left << right, ast.RShift: lambda: left >> right,
                              ast.Div: lambda: left // right if isinstance(left, int) and isinstance(right, int)
                              else left / right}
                if type(node.op) in operations:
                    return operations[type(node.op)]()
            raise ValueError(f"cannot work out {expression!r}")

        return walk(tree)


_constants = None


def constant(qualified):
    """The value of one named constant of the sources (see Constants.value)."""
    global _constants
    if _constants is None:
        _constants = Constants()
    return _constants.value(qualified)
