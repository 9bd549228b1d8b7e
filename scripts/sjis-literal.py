#!/usr/bin/env python3
"""Prints a C string literal holding the Shift-JIS bytes of each argument."""
import sys

for text in sys.argv[1:]:
    raw = text.encode("cp932")
    out = []
    for b in raw:
        if 0x20 <= b < 0x7F and chr(b) not in '"\\':
            out.append(chr(b))
        else:
            out.append("\\x%02X" % b)
    # Close and reopen the literal where a hex escape is followed by a hex digit.
    lit = ""
    for i, piece in enumerate(out):
        if i and out[i - 1].startswith("\\x") and not piece.startswith("\\") and piece in "0123456789abcdefABCDEF":
            lit += '" "'
        lit += piece
    print('"%s"  // %s' % (lit, text))
