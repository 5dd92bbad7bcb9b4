#!/usr/bin/python3
"""Prints the first sheet of an xlsx workbook as JSON, the way openpyxl reads it.

read_xlsx.py FILE          every cell that has a value or a style of its own
read_xlsx.py FILE --rows   only the row count and the last row, streamed (for huge sheets)
"""
import json
import re
import sys
import zipfile
import xml.etree.ElementTree as ET

import openpyxl


def colour(font):
    if font is None or font.color is None or font.color.type != "rgb":
        return None
    return font.color.rgb


def full(path):
    book = openpyxl.load_workbook(path)
    sheet = book.worksheets[0]
    cells = {}
    for row in sheet.iter_rows():
        for cell in row:
            if cell.value is None and not cell.has_style:
                continue
            cells[cell.coordinate] = {
                "v": cell.value,
                "t": type(cell.value).__name__,
                "font": cell.font.name,
                "color": colour(cell.font),
                "h": cell.alignment.horizontal,
                "vert": cell.alignment.vertical,
            }
    return {
        "sheets": len(book.worksheets),
        "max_row": sheet.max_row,
        "max_column": sheet.max_column,
        "merged": sorted(str(r) for r in sheet.merged_cells.ranges),
        "cells": cells,
    }


def rows(path):
    # Parsing the whole sheet also proves that it is well-formed XML.
    ns = "{http://schemas.openxmlformats.org/spreadsheetml/2006/main}"
    count = 0
    last = {}
    with zipfile.ZipFile(path) as z, z.open("xl/worksheets/sheet1.xml") as f:
        for _, elem in ET.iterparse(f):
            if elem.tag != ns + "row":
                continue
            count += 1
            last = {"r": int(elem.get("r")), "cells": {}}
            for c in elem:
                ref = re.sub(r"\d+", "", c.get("r"))
                text = "".join(c.itertext())
                last["cells"][ref] = text
            elem.clear()
    openpyxl.load_workbook(path, read_only=True).close()
    return {"rows": count, "last": last}


if __name__ == "__main__":
    result = rows(sys.argv[1]) if "--rows" in sys.argv[2:] else full(sys.argv[1])
    json.dump(result, sys.stdout, ensure_ascii=False)
