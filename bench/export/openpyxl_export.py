#!/usr/bin/python3
"""openpyxl (write-only mode) writing the cells that plain_export.c writes.

openpyxl_export.py CELLS OUT.xlsx  ->  prints "wall_seconds cpu_seconds peak_growth_kb"
"""
import sys
import time

from openpyxl import Workbook
from openpyxl.cell import WriteOnlyCell
from openpyxl.styles import Alignment, Font


def status_kb(key):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(key):
                return int(line.split()[1])
    return -1


def main(cells_path, out_path):
    rows = []
    merge = None
    with open(cells_path, encoding="utf-8") as f:
        for line in f:
            field = line.rstrip("\n").split("\t")
            if field[0] == "merge":
                merge = (int(field[1]), int(field[2]), int(field[3]), int(field[4]), field[5])
                continue
            row, col, kind, fmt, text = int(field[0]), int(field[1]), field[2], int(field[3]), field[4]
            while len(rows) < row:
                rows.append([])
            if kind == "n":
                text = float(text) if any(ch in text for ch in ".eE") else int(text)
            rows[row - 1].append((col, text, fmt))

    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
    before = status_kb("VmRSS:")
    start = time.perf_counter()
    cpu_start = time.process_time()

    book = Workbook(write_only=True)
    sheet = book.create_sheet()
    align = Alignment(horizontal="center", vertical="center")
    fonts = [None, Font(name="Calibri"), Font(name="Calibri", color="FFFF0000")]
    if merge:
        r1, c1, r2, c2, _ = merge
        sheet.merged_cells.add("%s%d:%s%d" % (column_name(c1), r1, column_name(c2), r2))
    for cells in rows:
        width = max((c for c, _, _ in cells), default=0)
        out = [None] * width
        for col, value, fmt in cells:
            if fmt:
                cell = WriteOnlyCell(sheet, value=value)
                cell.font = fonts[fmt]
                cell.alignment = align
                out[col - 1] = cell
            else:
                out[col - 1] = value
        sheet.append(out)
    book.save(out_path)

    cpu = time.process_time() - cpu_start
    elapsed = time.perf_counter() - start
    print("%.6f %.6f %d" % (elapsed, cpu, status_kb("VmHWM:") - before))


def column_name(n):
    name = ""
    while n:
        n, r = divmod(n - 1, 26)
        name = chr(65 + r) + name
    return name


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
