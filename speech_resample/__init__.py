"""The project's resampler, reached as `librosa.resample` by every deliverable."""
from speech_resample import _speech_resample  # noqa: F401
