import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# Our own layers for outside packages that cannot be installed here; real
# installations take precedence because they come first on sys.path.
STAND_INS = os.path.join(ROOT, "stand_ins")
for path in (ROOT,):
    if path not in sys.path:
        sys.path.insert(0, path)
if STAND_INS not in sys.path:
    sys.path.append(STAND_INS)
