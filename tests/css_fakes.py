"""Small stand-ins for the separation network and the speaker tracker, for
the CSSProcessor tests: they script what the processor receives and record
what it asks for."""
import numpy as np
import torch

# Windows small enough to follow by hand: at 1000 Hz, SMALL_SEG samples every
# 200, the network's input padded with SMALL_PAD samples on either side.
SMALL_WINDOWS = dict(sample_rate=1000, seg_duration=0.4, hop_duration=0.2, padding_samples=0.1)
SMALL_SEG = 400
SMALL_PAD = 100

# The keys of a segment record, in the order the processor writes them.
RECORD_KEYS = ["seg_idx", "start_sample", "end_sample", "separated_signals", "global_ids", "embeddings",
               "similarity_matrix"]


class ScriptedNetwork:
    """Returns (None, outputs) where `outputs(window)` gives the rows for one
    window as a list of 1-D arrays over the window's `seg_samples`; the rows
    are placed between the margins of the network's input. Records every
    input and the grad mode during the call."""

    def __init__(self, outputs, padding, dtype=torch.float32):
        self.outputs = outputs
        self.padding = padding
        self.dtype = dtype
        self.inputs = []
        self.max_speakers = []
        self.grad_enabled = []

    def __call__(self, mixture, max_speakers):
        self.inputs.append(mixture.clone())
        self.max_speakers.append(max_speakers)
        self.grad_enabled.append(torch.is_grad_enabled())
        p = self.padding
        window = mixture[0, p:mixture.shape[1] - p].numpy().astype(np.float64)
        rows = [np.asarray(r, dtype=np.float64) for r in self.outputs(window)]
        out = np.zeros((1, len(rows), mixture.shape[1]))
        for k, row in enumerate(rows):
            out[0, k, p:p + row.size] = row
        return None, torch.from_numpy(out).to(self.dtype)


class FakeTracker:
    """Embeddings come from `embed(signal)` -> (embedding or None, speech
    count); ids are handed out in order of first appearance, matching by
    exact embedding label (element 0). Every call is logged."""

    def __init__(self, embed=None):
        self.embed = embed or (lambda signal: (np.array([float(np.argmax(np.abs(signal)))]), signal.size))
        self.calls = []
        self.reset()

    def reset(self):
        self.calls.append(("reset",))
        self.labels = {}

    def _id(self, emb):
        return self.labels.setdefault(float(emb[0]), len(self.labels))

    def extract_embedding_from_array(self, audio):
        self.calls.append(("extract", audio))
        return self.embed(audio)

    def initialize_first_segment(self, embeddings):
        self.calls.append(("init", embeddings))
        return [self._id(e) for e in embeddings]

    def match_speakers_between_segments(self, curr_embeddings, separation_quality=None, speech_samples=None):
        self.calls.append(("match", curr_embeddings, separation_quality, speech_samples))
        matrix = np.zeros((len(curr_embeddings), len(self.labels)))
        return [self._id(e) for e in curr_embeddings], matrix

    def names(self):
        return [c[0] for c in self.calls]

    def extracted(self):
        return [c[1] for c in self.calls if c[0] == "extract"]


def tone(n, cycles, amplitude=1.0, phase=0.0):
    """A sine with a whole number of cycles over n samples: zero mean, and
    orthogonal to tones of other cycle counts."""
    return amplitude * np.sin(2 * np.pi * cycles * np.arange(n) / n + phase)
