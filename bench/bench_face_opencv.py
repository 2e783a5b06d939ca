#!/usr/bin/python3
"""The peer figure for bench_face: python3-opencv's Haar cascade on the same frames.

Usage: bench_face_opencv.py CASCADE.xml ROUNDS MIN_FACE FRAME.bmp...
Runs on one thread (cv2.setNumThreads(1)). Reading the frames is not timed; the grey
conversion and CascadeClassifier.detectMultiScale are, first with OpenCV's defaults
(scaleFactor 1.1, minNeighbors 3, no minimum size), then with minSize MIN_FACE.
Prints per setting: name <TAB> processor ms per frame <TAB> wall ms per frame <TAB> frames with
exactly one face.
"""
import sys
import time

import cv2


def main(cascade_path, rounds, min_face, paths):
    cv2.setNumThreads(1)
    cascade = cv2.CascadeClassifier(cascade_path)
    if cascade.empty():
        sys.exit("cannot load " + cascade_path)
    frames = [cv2.imread(p, cv2.IMREAD_COLOR) for p in paths]
    for name, kwargs in (("default", {}), ("min_size", {"minSize": (min_face, min_face)})):
        ones = 0
        start = time.perf_counter()
        cpu = time.process_time()
        for _ in range(rounds):
            for frame in frames:
                grey = cv2.cvtColor(frame, cv2.COLOR_BGR2GRAY)
                faces = cascade.detectMultiScale(grey, **kwargs)
                ones += len(faces) == 1
        elapsed = time.perf_counter() - start
        cpu = time.process_time() - cpu
        n = rounds * len(frames)
        print("%s\t%.2f\t%.2f\t%d" % (name, cpu * 1000 / n, elapsed * 1000 / n, ones // rounds))


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4:])
