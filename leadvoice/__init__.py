"""Speaker tracking, continuous speech separation and the main-speaker driver."""
from leadvoice._leadvoice import *  # noqa: F401,F403
# The star import leaves out underscore names; these are module-level state and
# functions that callers read or patch on the package itself.
from leadvoice._leadvoice import _SILERO_VAD_MODEL, _resample  # noqa: F401
