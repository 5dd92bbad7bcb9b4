#!/usr/bin/python3
"""Prints an xlsx workbook as JSON, the way openpyxl reads it: for the first sheet every cell
that has a value or a style of its own, the merges and the columns given a width; the same for
each further sheet under "others"."""
import json
import sys

import openpyxl


def colour(font):
    if font is None or font.color is None or font.color.type != "rgb":
        return None
    return font.color.rgb


def read_sheet(sheet):
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
    return {
        "max_row": sheet.max_row,
        "merged": sorted(str(r) for r in sheet.merged_cells.ranges),
        "widths": {k: d.width for k, d in sheet.column_dimensions.items() if d.customWidth},
        "cells": cells,
    }


book = openpyxl.load_workbook(sys.argv[1])
result = read_sheet(book.worksheets[0])
result["sheets"] = len(book.worksheets)
result["names"] = book.sheetnames
result["others"] = [read_sheet(sheet) for sheet in book.worksheets[1:]]
json.dump(result, sys.stdout, ensure_ascii=False)
