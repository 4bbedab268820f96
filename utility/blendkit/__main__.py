"""python -m utility.blendkit: the training-stream demonstration."""
from utility.blendkit import _blendkit

_blendkit._run_demonstration()
