"""Prints a workbook as JSON, read with openpyxl (an independent reader of the reports).

Usage: /usr/bin/python3 dump_workbook.py FILE
Output: {"sheets": [{"name", "state", "cells": {"A1": value}, "types": {"A1": "n"|"s"|...},
          "formats": {"A1": number format}, "merged": [...], "print_area": ..., "print_titles": "34:34",
          "max_row"}],
         "defined_names": {name: value}, "active": index}
"""
import json
import sys

import openpyxl


def main(path):
    wb = openpyxl.load_workbook(path)
    out = {"sheets": [], "defined_names": {}, "active": wb.index(wb.active)}
    for dn in wb.defined_names.definedName:
        out["defined_names"][dn.name] = dn.attr_text
    for ws in wb.worksheets:
        cells, types, formats = {}, {}, {}
        for row in ws.iter_rows():
            for c in row:
                if c.value is None:
                    continue
                cells[c.coordinate] = c.value if isinstance(c.value, (int, float, str)) else str(c.value)
                types[c.coordinate] = c.data_type
                formats[c.coordinate] = c.number_format
        pa = ws.print_area
        out["sheets"].append({
            "name": ws.title,
            "state": ws.sheet_state,
            "cells": cells,
            "types": types,
            "formats": formats,
            "merged": sorted(str(r) for r in ws.merged_cells.ranges),
            "print_area": pa if isinstance(pa, str) or pa is None else ",".join(pa),
            "print_titles": ws.print_title_rows,
            "max_row": ws.max_row,
        })
    json.dump(out, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main(sys.argv[1])
