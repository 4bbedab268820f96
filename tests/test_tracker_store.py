"""SpeakerTracker construction, the global speaker store and cosine_similarity."""
import numpy as np
import pytest

import leadvoice
from leadvoice import SpeakerTracker, cosine_similarity


class RecordingModel:
    def __init__(self):
        self.calls = []

    def set_device(self, device):
        self.calls.append(("set_device", device))

    def set_vad(self, flag):
        self.calls.append(("set_vad", flag))

    def set_window_type(self, kind):
        self.calls.append(("set_window_type", kind))


def test_construction_loads_model_in_order_and_sets_fields(monkeypatch, capsys):
    model = RecordingModel()
    loaded = []

    def load_model(name):
        loaded.append(name)
        return model

    monkeypatch.setattr(leadvoice.wespeaker, "load_model", load_model)
    tracker = SpeakerTracker("english", 0.5, 8000, "cuda:1")
    assert capsys.readouterr().out == "正在加载WeSpeaker模型: english\n"
    assert loaded == ["english"]
    assert model.calls == [("set_device", "cuda:1"), ("set_vad", False), ("set_window_type", "hanning")]
    assert tracker.wespeaker is model
    assert list(vars(tracker)) == [
        "similarity_threshold", "sample_rate", "device", "embedding_update_strategy", "ema_alpha",
        "max_embedding_history", "max_inter_sisdr_for_update", "low_similarity_threshold",
        "short_speech_duration", "short_speech_threshold_drop", "short_speech_samples", "wespeaker",
        "global_speaker_embeddings", "global_speaker_embedding_history", "num_global_speakers",
    ]
    assert (tracker.similarity_threshold, tracker.sample_rate, tracker.short_speech_samples) == (0.5, 8000, 6400)
    assert not hasattr(tracker, "wespeaker_model")


def test_defaults(capsys):
    tracker = SpeakerTracker()
    assert capsys.readouterr().out == "正在加载WeSpeaker模型: chinese\n"
    expected = dict(similarity_threshold=0.6, sample_rate=16000, device="cpu",
                    embedding_update_strategy="ema_with_history", ema_alpha=0.3, max_embedding_history=40,
                    max_inter_sisdr_for_update=-10.0, low_similarity_threshold=0.22,
                    short_speech_duration=0.8, short_speech_threshold_drop=0.05, short_speech_samples=12800,
                    global_speaker_embeddings={}, global_speaker_embedding_history={}, num_global_speakers=0)
    for name, value in expected.items():
        assert getattr(tracker, name) == value, name
    assert type(tracker.short_speech_samples) is int
    assert SpeakerTracker.__mro__ == (SpeakerTracker, object)
    assert SpeakerTracker.__doc__ == "\n    说话人追踪器：基于WeSpeaker的说话人嵌入进行跨片段说话人匹配\n    "


def test_unknown_model_fails_construction():
    with pytest.raises(ValueError, match="unknown WeSpeaker model"):
        SpeakerTracker("klingon")


@pytest.mark.parametrize("call", [
    lambda t: SpeakerTracker(*range(12)),
    lambda t: t.reset(1),
    lambda t: t.initialize_first_segment(),
    lambda t: t.initialize_first_segment([], []),
    lambda t: cosine_similarity(np.ones(2)),
    lambda t: t.initialize_first_segment(5),
])
def test_wrong_arguments_raise_type_error(tracker, call):
    with pytest.raises(TypeError):
        call(tracker)


def test_initialize_first_segment_creates_speakers_in_order(tracker, capsys):
    a, b = np.array([1.0, 0.0]), np.array([0.0, 1.0])
    assert tracker.initialize_first_segment([None, a, None, b]) == [-1, 0, -1, 1]
    assert tracker.num_global_speakers == 2
    assert tracker.global_speaker_embeddings[0] is a and tracker.global_speaker_embeddings[1] is b
    assert list(tracker.global_speaker_embeddings) == [0, 1]
    assert tracker.global_speaker_embedding_history == {}
    assert capsys.readouterr().out == ""
    # Numbering continues on a store that already holds speakers.
    c = np.array([0.5, 0.5])
    assert tracker.initialize_first_segment(iter([c])) == [2]
    assert tracker.global_speaker_embeddings[0] is a
    assert tracker.initialize_first_segment([]) == []
    assert tracker.num_global_speakers == 3


def test_non_finite_embedding_never_enters_the_store(tracker):
    bad = np.array([np.nan, 1.0])
    assert tracker.initialize_first_segment([bad, np.array([np.inf, 0.0]), np.array([1.0, 0.0])]) == [-1, -1, 0]
    assert list(tracker.global_speaker_embeddings) == [0]


def test_reset_binds_new_dictionaries(tracker):
    tracker.initialize_first_segment([np.ones(3)])
    tracker._update_embedding(0, np.ones(3))
    old_store, old_history = tracker.global_speaker_embeddings, tracker.global_speaker_embedding_history
    model = tracker.wespeaker
    assert tracker.reset() is None
    assert tracker.global_speaker_embeddings == {} and tracker.global_speaker_embedding_history == {}
    assert tracker.num_global_speakers == 0
    assert list(old_store) == [0] and list(old_history) == [0]
    assert tracker.wespeaker is model


@pytest.mark.parametrize("a, b, expected", [
    (np.zeros(4), np.ones(4), 0.0),
    (np.array([1.0, 2.0, 3.0]), np.array([1.0, 2.0, 3.0]), 1.0),
    (np.array([1.0, -2.0]), np.array([-1.0, 2.0]), -1.0),
    (np.ones((1, 256)), np.ones(256), 1.0),
    (np.ones((3, 1)), np.ones(3, dtype=np.float32), 1.0),
    (np.array([1.0, 0.0]), np.array([1.0, 1.0]), 2 ** -0.5),
])
def test_cosine_similarity(a, b, expected):
    value = cosine_similarity(a, b)
    assert type(value) is float
    assert value == pytest.approx(expected, abs=1e-12)


def test_cosine_norm_guard_is_strict():
    tiny = np.array([1e-8, 0.0])
    assert cosine_similarity(tiny, np.array([1.0, 0.0])) == pytest.approx(1.0)
    assert cosine_similarity(np.array([9.9e-9, 0.0]), np.array([1.0, 0.0])) == 0.0


def test_cosine_of_unequal_lengths_fails():
    with pytest.raises(ValueError):
        cosine_similarity(np.ones(3), np.ones(4))
