#!/usr/bin/python3
"""Prints what independent readers see in a workbook file, one fact per line (UTF-8):

  stream <TAB> path <TAB> size           every stream of the compound file (olefile)
  sheet <TAB> name <TAB> nrows <TAB> ncols
  cell <TAB> row <TAB> col <TAB> type <TAB> value <TAB> number format
  palette <TAB> default|custom           whether the PALETTE holds the BIFF8 default colours
  dims <TAB> first_row <TAB> row_limit <TAB> first_col <TAB> col_limit (raw DIMENSIONS)

With --ole only the stream lines are printed, each followed by the SHA-256 of its bytes; with
--hex only the Workbook stream, in hexadecimal.

Types are xlrd's: text, number, boolean, blank, date is not used (dates are numbers with a date
format). Numbers are printed with repr(). Exits 1 with the reader's error on stderr.
"""
import hashlib
import struct
import sys

import olefile
import xlrd

TYPES = {xlrd.XL_CELL_EMPTY: "empty", xlrd.XL_CELL_TEXT: "text", xlrd.XL_CELL_NUMBER: "number",
         xlrd.XL_CELL_DATE: "date", xlrd.XL_CELL_BOOLEAN: "boolean", xlrd.XL_CELL_ERROR: "error",
         xlrd.XL_CELL_BLANK: "blank"}


def main(mode, path):
    out = []
    ole = olefile.OleFileIO(path, raise_defects=olefile.DEFECT_INCORRECT)
    for entry in ole.listdir(streams=True, storages=True):
        name = "/".join(entry)
        line = "stream\t%s\t%d" % (name, ole.get_size(name))
        if mode == "--ole":
            line += "\t" + hashlib.sha256(ole.openstream(name).read()).hexdigest()
        out.append(line)
    if mode == "--ole":
        ole.close()
        sys.stdout.write("\n".join(out) + "\n")
        return
    data = ole.openstream("Workbook").read()
    ole.close()
    if mode == "--hex":
        sys.stdout.write(data.hex() + "\n")
        return

    # The worksheet's DIMENSIONS record, read raw.
    pos = 0
    bofs = 0
    while pos + 4 <= len(data):
        number, length = struct.unpack_from("<HH", data, pos)
        if number == 0x0809:
            bofs += 1
        if number == 0x0200 and bofs == 2:
            r0, r1, c0, c1 = struct.unpack_from("<IIHH", data, pos + 4)
            out.append("dims\t%d\t%d\t%d\t%d" % (r0, r1, c0, c1))
        pos += 4 + length

    book = xlrd.open_workbook(path, formatting_info=True, logfile=sys.stderr)
    default = [tuple(c) for c in xlrd.formatting.excel_default_palette_b8]
    actual = [book.colour_map.get(8 + i) for i in range(56)]
    out.append("palette\t%s" % ("default" if actual == default else "custom"))
    for sheet in book.sheets():
        out.append("sheet\t%s\t%d\t%d" % (sheet.name, sheet.nrows, sheet.ncols))
        for r in range(sheet.nrows):
            for c in range(sheet.ncols):
                cell = sheet.cell(r, c)
                if cell.ctype == xlrd.XL_CELL_EMPTY:
                    continue
                fmt = book.format_map[book.xf_list[cell.xf_index].format_key].format_str
                if cell.ctype == xlrd.XL_CELL_TEXT:
                    value = cell.value
                elif cell.ctype == xlrd.XL_CELL_BLANK:
                    value = ""
                else:
                    value = repr(cell.value)
                out.append("cell\t%d\t%d\t%s\t%s\t%s" % (r, c, TYPES[cell.ctype], value, fmt))
    sys.stdout.buffer.write(("\n".join(out) + "\n").encode("utf-8"))


if __name__ == "__main__":
    try:
        if len(sys.argv) == 3:
            main(sys.argv[1], sys.argv[2])
        else:
            main("", sys.argv[1])
    except Exception as e:  # the reader's complaint is the test's evidence
        sys.stderr.write("%s: %s\n" % (type(e).__name__, e))
        sys.exit(1)
