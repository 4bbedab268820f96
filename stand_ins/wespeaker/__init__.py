"""Stand-in for the WeSpeaker package, for tests and the demo only.

The real package loads a pretrained speaker-embedding network. This layer
keeps its calling surface (``load_model`` and the model's ``set_device``,
``set_vad``, ``set_window_type`` and ``extract_embedding``) and returns a
deterministic embedding computed from the file's spectrum: the mean log
energy of each of EMBEDDING_BANDS frequency bands, centred and scaled to
unit length. Talkers that occupy different bands get clearly different
vectors; the same talker gets nearly the same vector from any stretch.
"""
import numpy as np
import soundfile as sf

KNOWN_MODELS = ("chinese", "english")
EMBEDDING_BANDS = 32
_FRAME = 512
_HOP = 256


class SpeakerModel:
    def __init__(self, name):
        self.name = name
        self.device = "cpu"
        self.vad = True
        self.window_type = "hamming"

    def set_device(self, device):
        self.device = str(device)

    def set_vad(self, apply_vad):
        self.vad = bool(apply_vad)

    def set_window_type(self, window_type):
        self.window_type = window_type

    def extract_embedding(self, audio_path):
        audio, _ = sf.read(audio_path, dtype="float32", always_2d=True)
        return spectral_embedding(audio[:, 0])


def spectral_embedding(signal):
    signal = np.asarray(signal, dtype=np.float64)
    if signal.size < _FRAME:
        signal = np.pad(signal, (0, _FRAME - signal.size))
    count = 1 + (signal.size - _FRAME) // _HOP
    frames = np.lib.stride_tricks.sliding_window_view(signal, _FRAME)[::_HOP][:count]
    power = np.abs(np.fft.rfft(frames * np.hanning(_FRAME), axis=1)) ** 2
    bands = np.array_split(power.mean(axis=0), EMBEDDING_BANDS)
    log_energy = np.log(np.array([b.mean() for b in bands]) + 1e-10)
    centred = log_energy - log_energy.mean()
    norm = np.linalg.norm(centred)
    return (centred / norm if norm > 0 else centred).astype(np.float32)


def load_model(model_name):
    if model_name not in KNOWN_MODELS:
        raise ValueError(f"unknown WeSpeaker model: {model_name!r} (known: {', '.join(KNOWN_MODELS)})")
    return SpeakerModel(model_name)
