#!/usr/bin/env python3
"""List the functions in src/core longer than a limit (default 70 lines).

A function is a brace block opened at the end of a line that starts a
definition (a line ending in "{" whose text holds a "(" and is not a control
statement, class, struct, namespace or lambda assignment); its length is
counted from that line to its closing brace. Exits 1 when any is too long.

    python scripts/function_lengths.py [--limit 70] [paths ...]
"""
import argparse
import re
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
CONTROL = re.compile(r"^\s*(if|for|while|switch|else|do|try|catch|namespace|struct|class|enum|union)\b")


def functions(path):
    lines = path.read_text().splitlines()
    k = 0
    while k < len(lines):
        line = lines[k]
        code = line.split("//")[0].rstrip()
        if code.endswith("{") and not CONTROL.match(code) and "=" not in code.split("(")[0]:
            # The signature may start on earlier lines: walk back to its first one.
            start = k
            while start > 0 and "(" not in lines[start] and lines[start - 1].strip() and \
                    not lines[start - 1].rstrip().endswith((";", "}", "{")):
                start -= 1
            head = " ".join(l.strip() for l in lines[start:k + 1])
            if "(" in head and not CONTROL.match(head) and "[&" not in head and "[=" not in head \
                    and "[]" not in head:
                depth, end = 0, k
                for end in range(k, len(lines)):
                    depth += lines[end].count("{") - lines[end].count("}")
                    if depth <= 0:
                        break
                yield start + 1, end - start + 1, head[:90]
                k = end
        k += 1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--limit", type=int, default=70)
    parser.add_argument("paths", nargs="*", default=[str(ROOT / "src" / "core")])
    args = parser.parse_args()
    files = []
    for p in map(Path, args.paths):
        files += sorted(p.glob("*.[ch]pp")) if p.is_dir() else [p]
    longest, over = None, []
    for f in files:
        for line, length, head in functions(f):
            if longest is None or length > longest[0]:
                longest = (length, f"{f.name}:{line}", head)
            if length > args.limit:
                over.append(f"{f.name}:{line}: {length} lines: {head}")
    print("\n".join(over) if over else f"no function over {args.limit} lines")
    if longest:
        print(f"longest: {longest[0]} lines at {longest[1]}: {longest[2]}")
    return 1 if over else 0


if __name__ == "__main__":
    sys.exit(main())
