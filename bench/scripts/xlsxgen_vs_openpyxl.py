#!/usr/bin/python3
"""The protocol export side by side: libxlsxgen against openpyxl, same template, same job.

Runs bench_xlsxgen (MakeReport → libxlsxgen.so → written workbook: the default template filled for
four channels with 199 result records each) and then does the same job with openpyxl, written from
the same rules: the same replace pairs, hidden sheets and value tables, built from the same record
as the benchmark builds them; every sheet from the last to the first is hidden, or renamed, gets its
placeholders replaced and its table row multiplied and filled; the workbook is saved. Prints the
median and 95th percentile of one export's wall and CPU time for both, the peak memory of the
benchmark, and the ratio. Both reports are then read back with openpyxl and their visible cells
compared, so the two did the same job.

Run with Debian's Python, which has openpyxl (python3-openpyxl):
    /usr/bin/python3 bench/scripts/xlsxgen_vs_openpyxl.py [--bench build/xlsx/bin/bench_xlsxgen]
        [--min-time 3] [--runs 9]
"""
import argparse
import json
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

import openpyxl
from openpyxl.worksheet.cell_range import CellRange

HERE = os.path.dirname(os.path.abspath(__file__))
TEMPLATE = os.path.join(HERE, "..", "..", "template_xml", "Протокол поверки.xlsx")
MARKER = "&LST_F"
POINTS = 199
DIGITS = 3

# The placeholder controls the benchmark passes (fill_template_bench.cpp: the report's list of
# lab/report/protocol_fields.h with its protocol page), written out here so that openpyxl's job is
# built apart from the code it is compared with.
PLACEHOLDERS = [
    ("amp_CD_VRCOEFF", "0.8"), ("amp_D1_SH_NUM", "П-1"), ("amp_CD_DATE", "09.12.2026"),
    ("amp_CD_TEMP", "21.5"), ("amp_CD_HUM", "45"), ("amp_CD_PRES", "750"),
    ("amp_CD_ORG", "ФБУ \"Тест\""), ("amp_CD_CRT_NUM", "RA.RU.000001"),
    ("amp_CD_ADDRESS", "г. Москва,\r\nул. Тестовая, 1"), ("amp_CD_VERIF_POS", "инженер"),
    ("amp_CD_VERIF", "Иванов И.И."), ("amp_CD_CHEF_POS", "начальник"), ("amp_CD_CHEF", "Петров П.П."),
]


def f32(x):
    """A value as the record's single-precision float holds it."""
    return struct.unpack("<f", struct.pack("<f", x))[0]


def job():
    """Hidden sheets, replace pairs and tables as MakeReport makes them from the benchmark's record."""
    pairs = []

    def add(key, value):
        # Longer keys first: a key holding an earlier, shorter one is refused.
        if any(old in key and len(key) > len(old) for old, _ in pairs):
            return
        pairs.append((key, value))

    channels = [{"n": c + 1, "sn": "SN%d" % (c + 1)} for c in range(4)]
    results = []
    for i in range(POINTS):
        p_ref = f32(i * 3)
        current = f32(4 + p_ref / 600 * 16)
        results.append({"pRef": p_ref, "current": current, "iExpected": current, "pFromI": p_ref,
                        "reducedError": f32(0.01 * (i % 7)), "uncertainty": f32(0.01)})
    err_ok, vr_coeff = f32(0.5), f32(0.8)
    suitable = all(abs(r["reducedError"]) <= f32(err_ok * vr_coeff) for r in results)
    hidden = ["&DEV_VER_%d" % ch["n"] if suitable else "&DEV_VCR_%d" % ch["n"] for ch in channels]

    add("&CD_TEMP_FULL", "температура воздуха: °С")
    add("&CD_HUM_FULL", "относительная влажность: %")
    add("&CD_PRES_FULL", " атмосферное давление:  мм рт.ст.")
    add("&CD_ET_AUX_LST", "")
    add("&HIST_ENTRY", " ")  # the run-history footer: a blank when the run is not stored
    for control, value in PLACEHOLDERS:
        add("&" + control[len("amp_"):], value.replace("\r", ""))
    for ch in channels:
        d = "&D%d_" % ch["n"]
        for key, value in [(d + "OWNER", ""), (d + "NAME", "Преобразователь давления"), (d + "TYPE", ""),
                           (d + "SERIAL", ch["sn"]), (d + "INV", ""), ("&VR_D%d_DOC" % ch["n"], ""),
                           (d + "SIGNAL_UNITS", "мА"), (d + "UNITS", "кПа"), (d + "SIGNAL", "4...20 мА"),
                           (d + "NOTES", "нет"), (d + "CHECK_THT", "соответствует"),
                           (d + "CHECK_USG", "соответствует"), (d + "CHECK_EL", "соответствует"),
                           (d + "CHECK_R", "соответствует"), (d + "FINTERVAL", " "), (d + "VER_ID", " ")]:
            add(key, value)
    for ch in channels:
        n, sn = ch["n"], ch["sn"]
        add("&DEV_SH_%d" % n, "Протокол %s  (к.%d)" % (sn, n))
        add("&DEV_VCR_%d" % n, "свидетельство %s (к.%d)" % (sn, n))
        add("&DEV_VER_%d" % n, "извещение %s (к.%d)" % (sn, n))
        add("&DEV_CCR_%d" % n, "сертификат %s (к.%d)" % (sn, n))
    add("&ET_UNIT", "кПа")
    fmt = "%%.%df" % DIGITS
    tables = {"&ET_REFF_I": [fmt % r["pRef"] for r in results]}
    for ch in channels:
        d = "&D%d_" % ch["n"]
        tables[d + "INT_I"] = ["0...600"] * POINTS
        tables[d + "ECSGN_I"] = [fmt % r["iExpected"] for r in results]
        tables[d + "SGN_I"] = [fmt % r["current"] for r in results]
        tables[d + "VAL_I"] = [fmt % r["pFromI"] for r in results]
        tables[d + "ACC_I"] = [fmt % r["reducedError"] for r in results]
        tables[d + "ALL_ACC_I"] = [fmt % err_ok] * POINTS
        tables[d + "UNC_I"] = [fmt % r["uncertainty"] for r in results]
    for ch in channels:
        n, vr = ch["n"], "&VR_D%d_" % ch["n"]
        add("&D%d_SH_NUM" % n, "П-1")
        add(vr + "TYPE_OF", "первичной")
        add(vr + "RESULT_SHORT", "положительные" if suitable else "отрицательные")
        add(vr + "RES_DOC", ("Выписано свидетельство о поверке" if suitable else
                             "Выписано извещение о непригодности") + " № П-1 от 09.12.2026.")
        add(vr + "SUITABLE", "пригодным к применению" if suitable else "не пригодным к применению")
    return hidden, pairs, tables


def number(text):
    """A number text as a value and the format that shows its decimals (None: not a number)."""
    try:
        value = float(text)
    except ValueError:
        return None, None
    decimals = len(text.split(".")[1]) if "." in text else 0
    return value, ("0." + "0" * decimals if decimals else "0")


def fill_with_openpyxl(template, output, hidden, pairs, tables):
    wb = openpyxl.load_workbook(template)
    n = POINTS
    for ws in reversed(wb.worksheets):
        if ws.title in hidden:
            ws.sheet_state = "hidden"
            continue
        for key, value in pairs:
            if key == ws.title:
                ws.title = value[:31]
        marker = None
        for row in ws.iter_rows():
            for cell in row:
                if isinstance(cell.value, str):
                    text = cell.value
                    for key, value in pairs:
                        if key in text:
                            text = text.replace(key, value)
                    if text != cell.value:
                        cell.value = text or None
                if marker is None and isinstance(cell.value, str) and MARKER in cell.value:
                    marker = cell
        if marker is None:
            continue
        r, c = marker.row, marker.column
        marker.value = " "
        # The row is present n times: rows below move down, merged ranges and the print area with them.
        ws.insert_rows(r + 1, n - 1)
        for merged in list(ws.merged_cells.ranges):
            if merged.min_row > r:
                ws.merged_cells.remove(merged)
                moved = CellRange(merged.coord)
                moved.shift(row_shift=n - 1)
                ws.merged_cells.add(moved)
        if ws.print_area:
            area = ws.print_area if isinstance(ws.print_area, str) else ws.print_area[0]
            bounds = CellRange(area.split("!")[-1].replace("$", ""))
            if bounds.max_row >= r:
                bounds.expand(down=n - 1)
            ws.print_area = bounds.coord
        source = [ws.cell(r, k) for k in range(1, ws.max_column + 1)]
        for i in range(1, n):
            for cell in source:
                copy = ws.cell(r + i, cell.column)
                copy.value = cell.value
                copy._style = cell._style
        for k in range(1, c):
            name = ws.cell(r, k).value
            if not isinstance(name, str) or name[:63] not in tables:
                continue
            cells = tables[name[:63]]
            for i in range(n):
                cell = ws.cell(r + i, k)
                cell.value = None
                if i < len(cells) and cells[i]:
                    value, fmt = number(cells[i])
                    if value is None:
                        cell.value = cells[i]
                    else:
                        cell.value = value
                        if cell.number_format == "General":
                            cell.number_format = fmt
    wb.save(output)


def visible_cells(path):
    wb = openpyxl.load_workbook(path)
    out = {}
    for ws in wb.worksheets:
        cells = {c.coordinate: c.value for row in ws.iter_rows() for c in row if c.value not in (None, "")}
        out[ws.title] = (ws.sheet_state, cells if ws.sheet_state == "visible" else {})
    return out


def percentile(samples, share):
    ordered = sorted(samples)
    return ordered[max(1, min(len(ordered), int(share * len(ordered) + 0.999999))) - 1]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--bench", default="build/xlsx/bin/bench_xlsxgen")
    parser.add_argument("--min-time", default="3", help="seconds of CPU time bench_xlsxgen measures")
    parser.add_argument("--runs", type=int, default=9, help="openpyxl exports to time (at least 7)")
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="xlsxgen-vs-openpyxl.")
    try:
        ours = os.path.join(work, "xlsxgen.xlsx")
        env = dict(os.environ, XLSXBENCH_KEEP=ours)
        done = subprocess.run([args.bench, "--benchmark_min_time=" + args.min_time, "--benchmark_format=json"],
                              env=env, capture_output=True, text=True)
        if done.returncode != 0:
            print("bench_xlsxgen failed:\n" + done.stderr)
            return 1
        bench = json.loads(done.stdout)["benchmarks"][0]
        if bench.get("error_occurred"):
            print("bench_xlsxgen: " + bench.get("error_message", ""))
            return 1

        hidden, pairs, tables = job()
        theirs = os.path.join(work, "openpyxl.xlsx")
        wall, cpu = [], []
        for _ in range(max(args.runs, 7)):
            w0, c0 = time.perf_counter(), time.process_time()
            fill_with_openpyxl(TEMPLATE, theirs, hidden, pairs, tables)
            wall.append((time.perf_counter() - w0) * 1e3)
            cpu.append((time.process_time() - c0) * 1e3)

        a, b = visible_cells(ours), visible_cells(theirs)
        differences = []
        for title in sorted(set(a) | set(b)):
            if a.get(title, (None, {}))[0] != b.get(title, (None, {}))[0]:
                differences.append("%s: state %s / %s" % (title, a.get(title, ("-",))[0], b.get(title, ("-",))[0]))
                continue
            ca, cb = a[title][1], b[title][1]
            for ref in sorted(set(ca) | set(cb)):
                va, vb = ca.get(ref), cb.get(ref)
                if va != vb and not (isinstance(va, float) and isinstance(vb, float) and abs(va - vb) < 1e-9):
                    differences.append("%s!%s: %r / %r" % (title, ref, va, vb))

        ox_median, ox_cpu = statistics.median(wall), statistics.median(cpu)
        print("job: default template, 4 channels x %d points; %d replace pairs, %d tables, %d hidden sheets"
              % (POINTS, len(pairs), len(tables), len(hidden)))
        print("libxlsxgen (bench_xlsxgen, %d exports):" % bench["calls"])
        print("  wall median / p95:   %7.2f / %7.2f ms" % (bench["median_ms"], bench["p95_ms"]))
        print("  CPU  median / p95:   %7.2f / %7.2f ms" % (bench["cpu_median_ms"], bench["cpu_p95_ms"]))
        print("  peak memory:         %7.2f MiB; report %.1f KiB" % (bench["peak_rss_MiB"], bench["report_KiB"]))
        print("openpyxl (%d exports):" % len(wall))
        print("  wall median / p95:   %7.2f / %7.2f ms" % (ox_median, percentile(wall, 0.95)))
        print("  CPU  median / p95:   %7.2f / %7.2f ms" % (ox_cpu, percentile(cpu, 0.95)))
        print("ratio openpyxl / libxlsxgen: %.1fx wall, %.1fx CPU (medians)"
              % (ox_median / bench["median_ms"], ox_cpu / bench["cpu_median_ms"]))
        print("load average at the end: %.2f %.2f %.2f" % os.getloadavg())
        if differences:
            print("the two reports differ in %d visible cells or sheets, e.g.:" % len(differences))
            for line in differences[:10]:
                print("  " + line)
            return 1
        print("both reports hold the same sheets and visible cell values")
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
