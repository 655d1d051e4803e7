#!/usr/bin/env python3
"""long-functions.py: lists the functions of the C++ sources that are longer
than a limit (default 80 lines, counted from the line of the opening brace to
the closing one, both included).

    scripts/long-functions.py [--limit N] [folder ...]

Folders default to API link os tools. Constant tables (initialisers such as
`const X table[] = {`) are not functions and are not counted. The scan is
textual: comments, strings and character literals are blanked first, then a
brace at namespace depth that follows a closing parenthesis (optionally with
qualifiers such as const, noexcept or an initialiser list) opens a function.
Exit status 1 when a function is over the limit, 0 otherwise.
"""
import os
import re
import sys

SOURCE_SUFFIXES = (".cpp", ".cc", ".h", ".hpp", ".c")


def blank_comments_and_literals(text):
    """Replaces comments and literal contents by spaces, keeping newlines."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c == 'R' and text.startswith('R"', i):
            m = re.match(r'R"([^(\s]*)\(', text[i:])
            if not m:
                out.append(c)
                i += 1
                continue
            end = ")" + m.group(1) + '"'
            j = text.find(end, i + m.end())
            j = n if j < 0 else j + len(end)
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            j = min(j + 1, n)
            out.append(c + " " * max(0, j - i - 2) + (c if j - i >= 2 else ""))
            i = j
        else:
            out.append(c)
            i += 1
    return "".join(out)


HEAD_RE = re.compile(
    r"\)\s*(const\s*)?(noexcept\s*)?(override\s*)?(final\s*)?"
    r"(->\s*[\w:<>,\s\*&]+)?(:\s*[^;{}]*)?$")


def functions(text):
    """Yields (name, first line, line count) of every function body."""
    clean = blank_comments_and_literals(text)
    depth_kinds = []  # for each open brace: 'func', 'scope' or 'other'
    inside_function = 0
    start = {}
    i = 0
    last = 0  # index after the last ';', '{' or '}' at the current level
    for i, c in enumerate(clean):
        if c == "{":
            head = clean[last:i].strip()
            kind = "other"
            if inside_function == 0:
                if re.match(r"^(extern\s+\"[^\"]*\"\s*$|namespace\b)", head) or \
                        re.search(r"\b(struct|class|union|enum)\b[^=()]*$", head):
                    kind = "scope"
                elif HEAD_RE.search(head) and not re.search(r"=\s*$", head) \
                        and not re.search(r"^\s*(if|for|while|switch)\b", head):
                    kind = "func"
            depth_kinds.append(kind)
            if kind == "func":
                inside_function += 1
                name = re.findall(r"([~\w:]+)\s*\(", head)
                start[len(depth_kinds)] = (name[0] if name else "?", clean.count("\n", 0, i) + 1)
            elif inside_function:
                inside_function += 1
            last = i + 1
        elif c == "}":
            if depth_kinds:
                kind = depth_kinds.pop()
                if inside_function:
                    inside_function -= 1
                if kind == "func" and len(depth_kinds) + 1 in start:
                    name, first = start.pop(len(depth_kinds) + 1)
                    end = clean.count("\n", 0, i) + 1
                    yield name, first, end - first + 1
            last = i + 1
        elif c == ";":
            last = i + 1
        elif c == "\n" and clean[last:i].lstrip().startswith("#"):
            last = i + 1


def main(argv):
    limit = 80
    folders = []
    args = iter(argv)
    for a in args:
        if a == "--limit":
            limit = int(next(args))
        else:
            folders.append(a)
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    folders = folders or ["API", "link", "os", "tools"]
    over = []
    for folder in folders:
        base = folder if os.path.isabs(folder) else os.path.join(root, folder)
        for dirpath, _, files in os.walk(base):
            for f in sorted(files):
                if not f.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.join(dirpath, f)
                with open(path, encoding="utf-8", errors="replace") as fh:
                    text = fh.read()
                for name, first, count in functions(text):
                    if count > limit:
                        over.append((count, os.path.relpath(path, root), first, name))
    for count, path, first, name in sorted(over, reverse=True):
        print(f"{count:5d}  {path}:{first}  {name}")
    if over:
        print(f"{len(over)} function(s) over {limit} lines")
    return 1 if over else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
