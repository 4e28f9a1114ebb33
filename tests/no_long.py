#!/usr/bin/env python3
"""The type long (32 bits in the shipped Windows programs, 64 on the host),
the conversions that make one (strtol, strtoul, atol) and printf's %l are
kept out of the programs' and libraries' code; toolkit/ and serial/ speak the
Windows API (LONG) and are left out. Prints each use with its line, and exits
1 when there is one.

  tests/no_long.py SOURCE_TREE
"""
import os, re, sys

FOLDERS = ['app', 'check', 'console', 'i2c', 'i2ctool', 'line', 'report', 'station']

LITERAL = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'', re.S)
TYPE = re.compile(r'\blong\b|\b(strtol|strtoul|atol|labs)\b')
FORMAT = re.compile(r'%[-+ #0-9.*]*l(?!l)[diouxXc]')


def uses(text):
    found = []
    def keep(match):
        piece = match.group(0)
        if piece.startswith('"') and FORMAT.search(piece):
            found.append(text.count('\n', 0, match.start()) + 1)
        # Comments and literals keep their line ends only.
        return '\n' * piece.count('\n') if piece[0] == '/' else '""'
    code = LITERAL.sub(keep, text)
    for number, line in enumerate(code.split('\n'), 1):
        # long long is 64 bits in both widths.
        if TYPE.search(re.sub(r'\blong\s+long\b', '', line)):
            found.append(number)
    lines = text.split('\n')
    return [(number, lines[number - 1].strip()) for number in sorted(set(found))]


def main():
    root = sys.argv[1]
    failed = False
    for folder in FOLDERS:
        for base, _, names in sorted(os.walk(os.path.join(root, folder))):
            for name in sorted(names):
                if not name.endswith(('.c', '.cpp', '.h')):
                    continue
                path = os.path.join(base, name)
                relative = os.path.relpath(path, root)
                with open(path, encoding='utf-8', errors='replace') as f:
                    for number, line in uses(f.read()):
                        failed = True
                        print(f'{relative}:{number}: {line}')
    return 1 if failed else 0


sys.exit(main())
