"""Speaker tracking, continuous speech separation and the main-speaker driver."""
try:
    from leadvoice._leadvoice import *  # noqa: F401,F403
except ImportError as error:
    # The extension's initialisation reports a failed dependency import as
    # "initialization failed"; the dependency's own error is the one to see.
    if error.__cause__ is not None:
        raise error.__cause__ from None
    raise
# The star import leaves out underscore names; these are module-level state and
# functions that callers read or patch on the package itself.
from leadvoice._leadvoice import _SILERO_VAD_MODEL, _resample  # noqa: F401,E402
