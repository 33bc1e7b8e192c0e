#!/usr/bin/env python3
"""Sums a process's resident (Rss) and proportional (Pss) memory by mapped file.

    bench/smaps-by-file.py PID [TOP]

Anonymous mappings are grouped as [heap], [anon] and [stack]; the list is
sorted by Rss, largest first, and ends with the totals.
"""
import collections
import re
import sys

pid = sys.argv[1]
top = int(sys.argv[2]) if len(sys.argv) > 2 else 40
rss = collections.Counter()
pss = collections.Counter()
name = None
header = re.compile(r'^[0-9a-f]+-[0-9a-f]+ \S+ \S+ \S+ \S+\s*(.*)$')
with open(f'/proc/{pid}/smaps') as smaps:
    for line in smaps:
        m = header.match(line)
        if m:
            name = m.group(1).strip() or '[anon]'
            if name.startswith('[stack'):
                name = '[stack]'
            continue
        if line.startswith('Rss:'):
            rss[name] += int(line.split()[1])
        elif line.startswith('Pss:'):
            pss[name] += int(line.split()[1])
print(f'{"rss_kib":>8} {"pss_kib":>8}  file')
for name, kib in rss.most_common(top):
    print(f'{kib:8d} {pss[name]:8d}  {name}')
print(f'{sum(rss.values()):8d} {sum(pss.values()):8d}  total ({len(rss)} mappings by name)')
