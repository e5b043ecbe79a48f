#!/usr/bin/env python3
# Makes tree C below DIR: 10,000 files of 0-64 KiB of random bytes in 100
# folders, the same bytes every time. Usage: bench/tree_c.py DIR
import os, random, sys
random.seed(1)
for i in range(10000):
    d = os.path.join(sys.argv[1], "d%d" % (i % 100))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "f%05d" % i), "wb") as f:
        f.write(random.randbytes(random.randint(0, 65536)))
