# `python -m utility.metrics`: the module's main-program steps, leaving
# `sources` and `est_sources` among this module's globals.
from utility.metrics import PIT, Calculate_SISDR, Parwise_SISDR, permutations, torch  # noqa: F401
from utility.metrics._metrics import _run_main

_run_main(globals())
del _run_main
