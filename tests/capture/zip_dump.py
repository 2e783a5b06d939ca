#!/usr/bin/python3
# Reads an archive with Python's zipfile (strict CRC checks on read) and prints one line per
# member: index, name, whether the UTF-8 name flag (bit 11) is set, compression method. Each
# member's bytes are written to OUTDIR/<index>.
import os
import sys
import zipfile

archive, outdir = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(archive) as z:
    if z.testzip() is not None:
        sys.exit("bad CRC: " + z.testzip())
    for i, info in enumerate(z.infolist()):
        with open(os.path.join(outdir, str(i)), "wb") as f:
            f.write(z.read(info))
        print(f"{i}\t{info.filename}\t{(info.flag_bits >> 11) & 1}\t{info.compress_type}")
