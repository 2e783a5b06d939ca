#!/usr/bin/python3
"""Prints a table the way `mirestal-cli dump` does, read by Debian's dbfread.

Used by the tests as an independent reader: header line of field names, then one line per
record not marked deleted, values as the dataset shows them."""
import datetime
import sys

import dbfread


def fmt_float(v):
    s = format(v, ".15G")
    if "E" in s:
        mantissa, exponent = s.split("E")
        sign = "-" if exponent.startswith("-") else ""
        s = mantissa + "E" + sign + (exponent.lstrip("+-0") or "0")
    return s


def text(value, ftype):
    if value is None:
        # The dataset reads a blank logical as false and a blank number as 0.
        if ftype == "L":
            return "False"
        return "0" if ftype in "NFIY" else ""
    if isinstance(value, bool):
        return "True" if value else "False"
    if isinstance(value, datetime.datetime):
        return "%04d/%d/%d %d:%02d:%02d" % (value.year, value.month, value.day,
                                            value.hour, value.minute, value.second)
    if isinstance(value, datetime.date):
        return "%04d/%d/%d" % (value.year, value.month, value.day)
    if isinstance(value, int):
        return str(value)
    if isinstance(value, float):
        return fmt_float(value)
    if isinstance(value, bytes):
        value = value.decode("gbk", "replace")
    return str(value).rstrip(" \0")


def escape(s):
    return s.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r")


def main():
    table = dbfread.DBF(sys.argv[1], encoding="gbk", char_decode_errors="replace")
    fields = table.fields
    out = ["\t".join(escape(f.name) for f in fields)]
    for record in table:
        out.append("\t".join(escape(text(record[f.name], f.type)) for f in fields))
    sys.stdout.buffer.write(("\n".join(out) + "\n").encode("utf-8"))


if __name__ == "__main__":
    main()
