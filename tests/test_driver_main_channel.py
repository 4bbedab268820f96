import numpy as np
import pytest
import torch

import leadvoice


def nonzero_spans(signal):
    flags = np.concatenate(([0], (np.asarray(signal) != 0).astype(np.int8), [0]))
    edges = np.diff(flags)
    return [{"start": int(s), "end": int(e)} for s, e in zip(np.flatnonzero(edges == 1), np.flatnonzero(edges == -1))]


class FakeVad:
    """Speech wherever the signal is non-zero; records every detector call."""

    def __init__(self, spans=None):
        self.loads = 0
        self.calls = []
        self.spans = spans

    def load(self):
        self.loads += 1
        return "vad-model"

    def timestamps(self, audio, model, **kwargs):
        self.calls.append((audio, model, kwargs))
        return self.spans if self.spans is not None else nonzero_spans(audio.numpy())


@pytest.fixture
def vad(monkeypatch):
    fake = FakeVad()
    monkeypatch.setattr(leadvoice, "_SILERO_VAD_MODEL", None)
    monkeypatch.setattr(leadvoice, "load_silero_vad", fake.load)
    monkeypatch.setattr(leadvoice, "get_speech_timestamps", fake.timestamps)
    return fake


def burst(n, start, stop, amplitude, dtype=np.float32):
    x = np.zeros(n, dtype=dtype)
    x[start:stop] = amplitude * np.sin(np.arange(stop - start) * 0.37 + 0.1)
    return x


def test_model_loads_once_with_message_first(vad, capsys):
    assert leadvoice.get_silero_vad_model() == "vad-model"
    assert leadvoice.get_silero_vad_model() == "vad-model"
    assert vad.loads == 1
    assert leadvoice._SILERO_VAD_MODEL == "vad-model"
    assert capsys.readouterr().out == "加载silero_vad模型...\n"


def test_failed_load_is_retried_with_message_again(monkeypatch, capsys):
    monkeypatch.setattr(leadvoice, "_SILERO_VAD_MODEL", None)
    monkeypatch.setattr(leadvoice, "load_silero_vad", lambda: (_ for _ in ()).throw(RuntimeError("no model")))
    for _ in range(2):
        with pytest.raises(RuntimeError, match="no model"):
            leadvoice.get_silero_vad_model()
    assert leadvoice._SILERO_VAD_MODEL is None
    assert capsys.readouterr().out == "加载silero_vad模型...\n" * 2


@pytest.mark.parametrize("audio", [None, np.zeros(0, dtype=np.float32), np.zeros(0)], ids=["none", "f32", "f64"])
def test_no_samples_measure_zero_without_the_model(vad, audio):
    assert leadvoice.compute_speech_mean_energy(audio) == (0.0, 0.0)
    assert vad.loads == 0 and vad.calls == []


def test_detector_gets_float32_tensor_rate_and_no_seconds(vad):
    audio = burst(1600, 100, 900, 0.5, dtype=np.float64)
    leadvoice.compute_speech_mean_energy(audio, 8000)
    (tensor, model, kwargs), = vad.calls
    assert isinstance(tensor, torch.Tensor) and tensor.dtype == torch.float32 and tensor.dim() == 1
    assert tensor.device.type == "cpu"
    assert model == "vad-model"
    assert kwargs == {"sampling_rate": 8000, "return_seconds": False}
    assert audio.dtype == np.float64  # the stream itself is untouched


@pytest.mark.parametrize("dtype", [np.float32, np.float64])
@pytest.mark.parametrize("seed", range(4))
def test_energy_matches_numpy_on_the_streams_own_samples(vad, dtype, seed):
    rng = np.random.default_rng(seed)
    audio = (rng.standard_normal(20011) * 0.1 + 1e-9).astype(dtype)
    spans = [{"start": 0, "end": 3000}, {"start": 5000, "end": 4000}, {"start": 7001, "end": 19999},
             {"start": 19000, "end": 99999}, {"start": 100, "end": 100}]
    vad.spans = spans
    energy, dur = leadvoice.compute_speech_mean_energy(audio, 16000)
    kept = np.concatenate([audio[s["start"]:s["end"]] for s in spans if s["end"] > s["start"]])
    assert energy == float(np.mean(kept ** 2))  # bit for bit, in the stream's own type
    assert dur == len(kept) / 16000
    assert type(energy) is float and type(dur) is float


def test_span_values_are_converted_to_int(vad):
    audio = burst(400, 0, 400, 0.2)
    vad.spans = [{"start": torch.tensor(10), "end": np.int64(110)}]
    energy, dur = leadvoice.compute_speech_mean_energy(audio, 100)
    assert dur == 1.0
    assert energy == float(np.mean(audio[10:110] ** 2))


@pytest.mark.parametrize("spans", [[], [{"start": 50, "end": 50}, {"start": 80, "end": 10}]], ids=["none", "empty-spans"])
def test_no_usable_span_measures_zero(vad, spans):
    vad.spans = spans
    assert leadvoice.compute_speech_mean_energy(burst(200, 0, 200, 0.3)) == (0.0, 0.0)


def choose(streams, capsys, **kwargs):
    result = leadvoice.select_main_channel(streams, **kwargs)
    return result, capsys.readouterr().out.split("\n")


HEADER = ["", "=== 主通道判别（基于silero_vad：能量优先 + 时长兜底） ==="]


def test_empty_mapping_prints_nothing(vad, capsys):
    assert leadvoice.select_main_channel({}) is None
    assert leadvoice.select_main_channel(None) is None
    assert capsys.readouterr().out == ""


def test_only_empty_streams_never_load_the_model(vad, capsys):
    result, lines = choose({0: np.zeros(0, np.float32), 1: np.zeros(0, np.float32)}, capsys)
    assert result is None and vad.loads == 0
    assert lines == HEADER + ["  说话人0: 语音时长=0.00s, 平均能量=0.000000e+00",
                              "  说话人1: 语音时长=0.00s, 平均能量=0.000000e+00",
                              "  [警告] 所有通道均未检测到有效语音", ""]


def test_silent_streams_warn_and_choose_nothing(vad, capsys):
    result, lines = choose({3: np.zeros(1600, np.float32)}, capsys)
    assert result is None
    assert lines == HEADER + ["加载silero_vad模型...", "  说话人3: 语音时长=0.00s, 平均能量=0.000000e+00",
                              "  [警告] 所有通道均未检测到有效语音", ""]


def test_single_stream_is_the_clear_winner(vad, capsys):
    audio = np.full(16000, 0.1, np.float32)
    audio[:8000] = 0
    result, lines = choose({0: audio}, capsys)
    assert result == 0
    assert lines == HEADER + ["加载silero_vad模型...", "  说话人0: 语音时长=0.50s, 平均能量=1.000000e-02",
                              "  能量阈值=9.000000e-03 (= 0.90 * max_energy)，候选通道=[0]",
                              "  -> 主通道: 说话人0 (能量明显最大=1.000000e-02, 时长=0.50s)", ""]


def level_stream(energy, speech_samples, n=16000):
    x = np.zeros(n, np.float64)
    x[:speech_samples] = np.sqrt(energy)
    return x


def test_close_candidates_go_by_duration(vad, capsys):
    streams = {0: level_stream(1.0e-2, 4000), 1: level_stream(0.95e-2, 8000)}
    result, lines = choose(streams, capsys)
    assert result == 1
    assert lines[-3] == "  能量阈值=9.000000e-03 (= 0.90 * max_energy)，候选通道=[0, 1]"
    assert lines[-2] == "  -> 主通道: 说话人1 (能量接近的候选中时长最长: 时长=0.50s, 能量=9.500000e-03)"


@pytest.mark.parametrize("energies, durations, winner, candidates", [
    ((1.0e-2, 0.8e-2), (4000, 16000), 0, "[0]"),          # far apart: loudest wins
    ((0.95e-2, 1.0e-2), (8000, 8000), 1, "[0, 1]"),       # equal duration: higher energy
    ((1.0e-2, 1.0e-2), (8000, 8000), 0, "[0, 1]"),        # full tie: first stream
    ((0.5e-2, 0.1e-2, 0.48e-2), (100, 9000, 8000), 2, "[0, 2]"),  # listed in stream order
])
def test_decision_rule(vad, capsys, energies, durations, winner, candidates):
    streams = {gid: level_stream(e, d) for gid, (e, d) in enumerate(zip(energies, durations))}
    result, lines = choose(streams, capsys)
    assert result == winner
    assert lines[-3].endswith("候选通道=" + candidates)


def test_result_is_the_key_object_and_measurement_is_looked_up(monkeypatch, capsys):
    calls = []

    def measure(audio, sample_rate):
        calls.append(sample_rate)
        return (float(audio[0]), 1.0)

    monkeypatch.setattr(leadvoice, "compute_speech_mean_energy", measure)
    key = np.int64(7)
    result = leadvoice.select_main_channel({key: np.array([0.5]), 2: np.array([0.1])}, sample_rate=8000)
    assert result is key
    assert calls == [8000, 8000]


def test_energy_exactly_at_threshold_is_a_candidate(monkeypatch, capsys):
    measured = {0: (1.0, 1.0), 1: (0.9, 2.0)}
    monkeypatch.setattr(leadvoice, "compute_speech_mean_energy", lambda audio, sr: measured[int(audio[0])])
    result, lines = choose({0: np.array([0.0]), 1: np.array([1.0])}, capsys)
    assert result == 1
    assert lines[-3].endswith("候选通道=[0, 1]")


def test_ratio_above_one_is_refused(vad):
    with pytest.raises(ValueError, match="energy_close_ratio"):
        leadvoice.select_main_channel({0: level_stream(1e-2, 100)}, energy_close_ratio=1.5)


def test_model_message_comes_before_first_nonempty_stream_line(vad, capsys):
    streams = {0: np.zeros(0, np.float32), 1: level_stream(1e-2, 1600)}
    _, lines = choose(streams, capsys)
    assert lines[2].startswith("  说话人0")
    assert lines[3] == "加载silero_vad模型..."
    assert lines[4].startswith("  说话人1")
    _, again = choose(streams, capsys)
    assert "加载silero_vad模型..." not in again


class TestEnergyVadStandIn:
    """The frame-energy detector that stands in for Silero VAD."""

    @staticmethod
    def spans(signal, sr=16000):
        import silero_vad
        tensor = torch.from_numpy(np.asarray(signal, dtype=np.float32))
        return silero_vad.get_speech_timestamps(tensor, silero_vad.load_silero_vad(), sampling_rate=sr,
                                                return_seconds=False)

    def test_silence_and_empty_give_no_spans(self):
        assert self.spans(np.zeros(16000)) == []
        assert self.spans(np.zeros(0)) == []

    def test_burst_gives_one_padded_span_in_samples(self):
        spans = self.spans(burst(32000, 8192, 24576, 0.3))
        assert spans == [{"start": 8192 - 480, "end": 24576 + 480}]

    def test_short_blips_dropped_and_short_gaps_bridged(self):
        x = burst(48000, 4096, 4096 + 1024, 0.3)            # 64 ms: too short
        x += burst(48000, 16384, 24576, 0.3)
        x[24576 + 512:24576 + 512 + 8192] = 0.3               # 32 ms gap: bridged
        spans = self.spans(x)
        assert spans == [{"start": 16384 - 480, "end": 24576 + 512 + 8192 + 480}]

    def test_unsupported_rate_is_refused(self):
        with pytest.raises(ValueError, match="8000 and 16000"):
            self.spans(np.zeros(4410), sr=44100)

    def test_measurement_through_the_stand_in(self, monkeypatch):
        import silero_vad
        monkeypatch.setattr(leadvoice, "_SILERO_VAD_MODEL", None)
        monkeypatch.setattr(leadvoice, "load_silero_vad", silero_vad.load_silero_vad)
        monkeypatch.setattr(leadvoice, "get_speech_timestamps", silero_vad.get_speech_timestamps)
        x = np.zeros(32000, np.float32)
        x[8192:24576] = 0.2
        energy, dur = leadvoice.compute_speech_mean_energy(x)
        assert dur == (16384 + 960) / 16000
        assert energy == float(np.mean(x[8192 - 480:24576 + 480] ** 2))
