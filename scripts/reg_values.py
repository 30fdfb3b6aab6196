#!/usr/bin/env python3
"""Prints the values of the first key in a registry export (REGEDIT5, UTF-16), one
"name<TAB>data" line each: a multi-string value gives a line per string, a DWORD its decimal
number, an expandable string its text; other kinds are shown as "(kind)". Subkeys are left out.

    reg_values.py EXPORT.reg
"""
import re, sys

unescape = lambda text: re.sub(r'\\(.)', r'\1', text)
text = re.sub(r'\\\r?\n *', '', open(sys.argv[1], encoding='utf-16').read())
keys = 0
for line in text.splitlines():
    keys += line.startswith('[')
    if keys > 1:
        break
    match = re.match(r'"((?:[^"\\]|\\.)*)"=(.*)$', line)
    if not match:
        continue
    name, data = unescape(match.group(1)), match.group(2)
    if data.startswith('"'):
        values = [unescape(data[1:-1])]
    elif data.startswith('dword:'):
        values = [str(int(data[6:], 16))]
    elif data.startswith(('hex(2):', 'hex(7):')):
        decoded = bytes.fromhex(data[7:].replace(',', '')).decode('utf-16-le').rstrip('\0')
        values = decoded.split('\0') if data[4] == '7' else [decoded]
    else:
        values = ['(' + data.split(':')[0] + ')']
    for value in values:
        print(f'{name}\t{value}')
