"""Speaker tracking, continuous speech separation and the main-speaker driver."""
from leadvoice._leadvoice import *  # noqa: F401,F403
