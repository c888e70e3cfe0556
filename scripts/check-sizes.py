#!/usr/bin/python3
"""The check of the test command that the program's files and functions stay small enough to
read: no C++ file of the program (tests aside) over 450 lines, and no function over 60 lines
of body, as clang-tidy's readability-function-size counts them, except the tables below. The
code is formatted by clang-format, so a function defined at namespace scope (or in a class at
namespace scope) starts at the first column (the third) and its body ends with a "}" alone at
that column."""
import pathlib
import re
import sys

FILE_LINES = 450
FUNCTION_LINES = 60
FLOORS = ("job", "files", "db", "settings", "export", "run", "app")
# Functions that are tables: one entry after another, nothing to split.
TABLES = {
    ("app/command_line.cpp", "helpText"),  # the text of --help, line by line
    ("app/main_dialog.cpp", "handle"),  # each control's command, one case each
}

top = pathlib.Path(__file__).resolve().parent.parent
problems = []
name_at = re.compile(r"([A-Za-z_][A-Za-z_0-9]*)\s*\(")
for floor in FLOORS:
    for path in sorted((top / floor).rglob("*")):
        if path.suffix not in (".cpp", ".h") or "_test." in path.name:
            continue
        relative = path.relative_to(top).as_posix()
        lines = path.read_text(encoding="utf-8").split("\n")
        if lines and lines[-1] == "":
            lines.pop()
        if len(lines) > FILE_LINES:
            problems.append(f"{relative}: {len(lines)} lines (at most {FILE_LINES})")
        head = None  # the first line of the definition being read
        for number, line in enumerate(lines, 1):
            if head is None:
                indent = len(line) - len(line.lstrip(" "))
                text = line.strip()
                starts = indent in (0, 2) and text[:1].isalpha() and not re.match(
                    r"(namespace|class|struct|enum|union|using|template|typedef|extern|if|for|"
                    r"while|switch|do|else|return|case|default|public|private|protected)\b",
                    text)
                if indent == 2 and ("=" in text or "[" in text):
                    starts = False  # a statement or a lambda, not a member function
                if starts and name_at.search(text) and not text.endswith(";"):
                    if text.endswith("}"):
                        continue  # a function on one line
                    head, opened = number, None
                if head is None:
                    continue
            if opened is None:
                if line.rstrip().endswith(";") and "{" not in line:
                    head = None  # a declaration over several lines
                elif line.rstrip().endswith("{"):
                    opened = number
                continue
            if line in (" " * indent + "}", " " * indent + "};"):
                body = number - opened - 1
                signature = " ".join(lines[head - 1:opened])
                qualified = re.search(r"(\w+)::(~?\w+)\s*\(", signature)
                name = qualified.group(2) if qualified else name_at.search(signature).group(1)
                if body > FUNCTION_LINES and (relative, name) not in TABLES:
                    problems.append(f"{relative}:{head}: {name} has {body} lines "
                                    f"(at most {FUNCTION_LINES})")
                head = None
if problems:
    print("check-sizes: too large:\n  " + "\n  ".join(problems), file=sys.stderr)
    sys.exit(1)
print(f"check-sizes: no file over {FILE_LINES} lines, no function over {FUNCTION_LINES}")
