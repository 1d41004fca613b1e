#!/usr/bin/env python3
"""A slow, plain model of pairhits, written separately from it, used to make
the expected output of the real BLAST tables: python3 reference_model.py TABLE

Lines end at LF, CR LF or a lone CR; fields are runs of non-TAB bytes; the
mate comes from "/1" then "/2" anywhere in field 1 and carries over; a line
needs nine fields, a field 1 of two bytes or more and no zero byte; numbers
are read by the C library's strtod and printed with %g; names sort byte-wise.
"""
import ctypes
import re
import sys
data=open(sys.argv[1],'rb').read()
lines=re.split(rb'\r\n|\r|\n',data)
if lines and lines[-1]==b'': lines.pop()
mate=0; recs={}
libc=ctypes.CDLL(None)
libc.strtod.restype=ctypes.c_double
def num(b):
    return libc.strtod(ctypes.c_char_p(b),None)
for ln in lines:
    f=[x for x in ln.split(b'\t') if x]
    if not f: continue
    if b'/1' in f[0]: mate=1
    if b'/2' in f[0]: mate=2
    if len(f)<9 or len(f[0])<2 or b'\0' in ln: continue
    name=f[0][:-2]
    r=recs.setdefault(name,([],[]))
    lst=r[0] if mate==1 else r[1]
    if any(t==f[8] for t,_,_ in lst): continue
    lst.append((f[8],num(f[2]),num(f[6])))
out=sys.stdout.buffer
for name in sorted(recs):
    a,b=recs[name]
    for t1,c3,c7 in a:
        for t2,d3,d7 in b:
            if t1==t2: out.write(b'%s\t%s,%s\t%s,%s\t%s\n'%(name,(b'%g'%c3),(b'%g'%d3),(b'%g'%c7),(b'%g'%d7),t1))
