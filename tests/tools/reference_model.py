#!/usr/bin/env python3
"""A slow, plain model of pairhits, written separately from it, used to make
the expected output of the real tables:
  python3 reference_model.py [--fields Q,A,B,T] [--marks M1,M2] TABLE...
  python3 reference_model.py [--fields Q,A,B,T] [--marks M1,M2] -1 TABLE... -2 TABLE...

Lines end at LF, CR LF or a lone CR; fields are runs of non-TAB bytes; a line
needs as many fields as the largest of Q,A,B,T (default 1,3,7,9; std is
1,3,11,2) and no zero byte. The mate: without --marks or -1/-2, from "/1"
then "/2" anywhere in the name field, carried over from line to line, the
name being the field less two bytes (two at least); with --marks, the mark
that ends the field, taken off; in a -1 or -2 table, the table's, a final
mark of that mate taken off. Numbers are read by the C library's strtod and
printed with %g; names sort byte-wise.
"""
import ctypes
import re
import sys

libc = ctypes.CDLL(None)
libc.strtod.restype = ctypes.c_double


def num(b):
    return libc.strtod(ctypes.c_char_p(b), None)


args = sys.argv[1:]
fields = [1, 3, 7, 9]
marks = None
tables = []  # (path, mate): mate 0 for a table given alone
while args:
    a = args.pop(0)
    if a in ("-f", "--fields"):
        v = args.pop(0)
        fields = [int(x) for x in ("1,3,11,2" if v == "std" else v).split(",")]
    elif a in ("-m", "--marks"):
        marks = [m.encode() for m in args.pop(0).split(",")]
    elif a in ("-1", "-2"):
        tables.append((args.pop(0), int(a[1])))
    else:
        tables.append((a, 0))
q, ca, cb, t = (k - 1 for k in fields)
needed = max(fields)
mate = 0
recs = {}
for path, table_mate in tables:
    data = open(path, "rb").read()
    lines = re.split(rb"\r\n|\r|\n", data)
    if lines and lines[-1] == b"":
        lines.pop()
    for ln in lines:
        f = [x for x in ln.split(b"\t") if x]
        name = None
        if table_mate != 0:
            mate = table_mate
            if len(f) >= needed:
                mark = (marks or [b"/1", b"/2"])[mate - 1]
                name = f[q][:-len(mark)] if f[q].endswith(mark) else f[q]
        elif marks is not None:
            mate = 0
            if len(f) >= needed:
                for m, mark in ((1, marks[0]), (2, marks[1])):
                    if f[q].endswith(mark):
                        mate, name = m, f[q][:-len(mark)]
                if mate == 0:
                    name = None
        else:
            if len(f) > q:
                if b"/1" in f[q]:
                    mate = 1
                if b"/2" in f[q]:
                    mate = 2
            if len(f) >= needed and len(f[q]) >= 2:
                name = f[q][:-2]
        if name is None or b"\0" in ln or (table_mate != 0 or marks is not None) and name == b"":
            continue
        r = recs.setdefault(name, ([], []))
        lst = r[0] if mate == 1 else r[1]
        if any(x == f[t] for x, _, _ in lst):
            continue
        lst.append((f[t], num(f[ca]), num(f[cb])))
out = sys.stdout.buffer
for name in sorted(recs):
    a, b = recs[name]
    for t1, c3, c7 in a:
        for t2, d3, d7 in b:
            if t1 == t2:
                out.write(b"%s\t%s,%s\t%s,%s\t%s\n" % (name, b"%g" % c3, b"%g" % d3, b"%g" % c7, b"%g" % d7, t1))
