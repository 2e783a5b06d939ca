#!/usr/bin/python3
"""The peer figure for bench_export: Debian's python3-xlwt writes the same rows.

Usage: bench_export_xlwt.py ROWS.tsv OUT.xls
ROWS.tsv is UTF-8, one row per line, tab-separated; its first line holds the captions and its
second the column kinds (text, date as days since 1899-12-30, number, integer, bool). Reading it
is not timed; building the workbook, writing every cell and saving it are.
Prints: rows <TAB> seconds <TAB> peak memory growth in bytes <TAB> file size.
"""
import os
import resource
import sys
import time

import xlwt


def main(tsv, out):
    with open(tsv, encoding="utf-8") as f:
        lines = f.read().split("\n")
    captions = lines[0].split("\t")
    kinds = lines[1].split("\t")
    rows = []
    for line in lines[2:]:
        if not line:
            continue
        values = []
        for kind, text in zip(kinds, line.split("\t")):
            if text == "":
                values.append(None)
            elif kind == "text":
                values.append(text)
            elif kind == "bool":
                values.append(text == "1")
            else:
                values.append(float(text))
        rows.append(values)

    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    start = time.perf_counter()
    book = xlwt.Workbook(encoding="utf-8")
    sheet = book.add_sheet("Sheet 1")
    bold = xlwt.easyxf("font: bold on")
    styles = {"text": xlwt.Style.default_style,
              "bool": xlwt.Style.default_style,
              "date": xlwt.easyxf(num_format_str="yyyy/M/d"),
              "number": xlwt.easyxf(num_format_str="#,###,##0.00"),
              "integer": xlwt.easyxf(num_format_str="#,###,##0")}
    column_styles = [styles[k] for k in kinds]
    for c, caption in enumerate(captions):
        sheet.write(0, c, caption, bold)
    for r, values in enumerate(rows, start=1):
        row = sheet.row(r)
        for c, value in enumerate(values):
            if value is None:
                row.set_cell_blank(c, column_styles[c])
            else:
                row.write(c, value, column_styles[c])
    book.save(out)
    seconds = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print("%d\t%.6f\t%d\t%d" % (len(rows), seconds, (after - before) * 1024, os.path.getsize(out)))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
