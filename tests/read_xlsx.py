#!/usr/bin/python3
"""Prints the first sheet of an xlsx workbook as JSON, the way openpyxl reads it: every cell
that has a value or a style of its own, the merges and the columns given a width."""
import json
import sys

import openpyxl


def colour(font):
    if font is None or font.color is None or font.color.type != "rgb":
        return None
    return font.color.rgb


book = openpyxl.load_workbook(sys.argv[1])
sheet = book.worksheets[0]
cells = {}
for row in sheet.iter_rows():
    for cell in row:
        if cell.value is None and not cell.has_style:
            continue
        cells[cell.coordinate] = {
            "v": cell.value,
            "t": type(cell.value).__name__,
            "style": "%s %s %s/%s %s" % (cell.font.name, cell.font.sz, cell.alignment.horizontal,
                                         cell.alignment.vertical, colour(cell.font)),
        }
json.dump({
    "sheets": len(book.worksheets),
    "max_row": sheet.max_row,
    "merged": sorted(str(r) for r in sheet.merged_cells.ranges),
    "widths": {k: d.width for k, d in sheet.column_dimensions.items() if d.customWidth},
    "cells": cells,
}, sys.stdout, ensure_ascii=False)
