#!/usr/bin/python3
"""The peer figure for bench_import_photos: python3-opencv doing the import's work.

Usage: bench_import_photos_opencv.py CASCADE.xml SOURCE_DIR OUT_DIR PROCESSES
For every picture of SOURCE_DIR, in PROCESSES worker processes of one OpenCV thread each:
decode (cv2.imread), grey, detectMultiScale with the cascade's defaults and faces of at least a
sixth of the short side (the range the import searches), the 3:4 crop around the largest face
(head from half a box above it to its bottom, 0.55 of the height, eyes at 0.4), resize to
300x400 (INTER_AREA), encode at quality 80 and write. Prints pictures, faces found once.
"""
import multiprocessing
import os
import sys

import cv2

_cascade = None


def _init(path):
    global _cascade
    cv2.setNumThreads(1)
    _cascade = cv2.CascadeClassifier(path)


def _one(job):
    src, dst = job
    img = cv2.imread(src, cv2.IMREAD_COLOR)
    h, w = img.shape[:2]
    grey = cv2.cvtColor(img, cv2.COLOR_BGR2GRAY)
    m = min(w, h) // 6
    faces = _cascade.detectMultiScale(grey, minSize=(m, m))
    if len(faces) == 0:
        return 0
    x, y, fw, fh = max(faces, key=lambda f: f[2])
    ch = min(h, int(1.5 * fh / 0.55))
    cw = min(w, ch * 3 // 4)
    ch = cw * 4 // 3
    top = int(y + 0.25 * fh - 0.4 * ch)
    left = int(x + fw / 2 - cw / 2)
    top = max(0, min(h - ch, top))
    left = max(0, min(w - cw, left))
    photo = cv2.resize(img[top:top + ch, left:left + cw], (300, 400), interpolation=cv2.INTER_AREA)
    ok, jpeg = cv2.imencode(".jpg", photo, [cv2.IMWRITE_JPEG_QUALITY, 80])
    with open(dst, "wb") as f:
        f.write(jpeg.tobytes())
    return 1 if len(faces) == 1 else 0


def main(cascade, source, out, processes):
    jobs = [(os.path.join(source, n), os.path.join(out, n)) for n in sorted(os.listdir(source))]
    with multiprocessing.Pool(processes, _init, (cascade,)) as pool:
        ones = sum(pool.map(_one, jobs, chunksize=1))
    print("%d pictures, one face in %d" % (len(jobs), ones))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]))
