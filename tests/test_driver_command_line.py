import pytest

import leadvoice
from helpers import parse_command_line, parse_exit_code, recording_argparse

OPTIONS = [
    "data_path", "data_jsonl", "multi_spks_rate_threshold", "device", "save_dir", "log_file", "inference",
    "seg_duration", "hop_duration", "max_speakers", "wespeaker_model", "similarity_threshold",
    "low_similarity_threshold", "short_speech_duration", "short_speech_threshold_drop",
    "max_inter_sisdr_for_update", "sisdr_threshold", "sisdr_threshold_prev", "merge_threshold", "rms_normalize",
]


def parse(monkeypatch, *argv):
    return parse_command_line(monkeypatch, leadvoice, *argv)


def test_defaults(monkeypatch):
    args = parse(monkeypatch)
    assert list(vars(args)) == OPTIONS
    expected = {
        "data_path": None, "data_jsonl": None, "multi_spks_rate_threshold": 0.5, "device": "cuda",
        "log_file": None, "seg_duration": 2.4, "hop_duration": 1.2, "max_speakers": 4,
        "wespeaker_model": "chinese", "similarity_threshold": 0.24, "low_similarity_threshold": 0.22,
        "short_speech_duration": 0.8, "short_speech_threshold_drop": 0.05, "max_inter_sisdr_for_update": -10.0,
        "sisdr_threshold": 20.0, "sisdr_threshold_prev": -10.0, "merge_threshold": 0.5, "rms_normalize": False,
    }
    for name, value in expected.items():
        assert getattr(args, name) == value and type(getattr(args, name)) is type(value), name
    assert args.save_dir.startswith("/") and args.save_dir.rstrip("/").endswith("/sep_wav")
    assert args.inference.startswith("/") and args.inference.endswith("/checkpoint_best.pth")


@pytest.mark.parametrize("argv, name, value", [
    (["--max_inter_sisdr_for_update", "-5"], "max_inter_sisdr_for_update", -5.0),
    (["--sisdr_threshold_prev=-5"], "sisdr_threshold_prev", -5.0),
    (["--multi_spks_rate_threshold", "1"], "multi_spks_rate_threshold", 1.0),
    (["--seg_duration", "3e0"], "seg_duration", 3.0),
    (["--max_speakers", "3", "--max_speakers", "2"], "max_speakers", 2),
    (["--device", "cuda:1"], "device", "cuda:1"),
    (["--data_path", ""], "data_path", ""),
    (["--rms_normalize"], "rms_normalize", True),
    (["--wespeaker_model=english"], "wespeaker_model", "english"),
])
def test_values(monkeypatch, argv, name, value):
    got = getattr(parse(monkeypatch, *argv), name)
    assert got == value and type(got) is type(value)


@pytest.mark.parametrize("argv", [
    ["--max_speakers", "2.5"], ["--seg_duration", "abc"], ["--rms_normalize", "true"], ["--nope", "1"],
    ["positional"], ["--save_dir"], ["-d", "x"],
])
def test_usage_errors_exit_2(monkeypatch, capsys, argv):
    assert parse_exit_code(monkeypatch, leadvoice, *argv) == 2
    err = capsys.readouterr().err
    assert err.startswith("usage:") and "error:" in err


def test_help_lists_options_in_order_with_texts(monkeypatch, capsys):
    assert parse_exit_code(monkeypatch, leadvoice, "--help") == 0
    out = capsys.readouterr().out
    assert "Tessera with Speaker Tracking" in out
    positions = [out.index("--" + name, out.index("options:")) for name in OPTIONS]
    assert positions == sorted(positions)
    for text in ["待处理音频所在目录（与 --data_jsonl 二选一）", "每段时长(秒)", "片段内的最大说话人数目",
                 "是否对输出的全局说话人音频进行RMS归一化（默认关闭）", "信号合并的embedding相似度阈值，高于此值则合并"]:
        assert text in out
    assert "default" not in out.lower()


def test_parser_is_looked_up_on_the_module(monkeypatch):
    made = []
    fake = recording_argparse(made)
    monkeypatch.setattr(leadvoice, "argparse", fake)
    namespace = leadvoice.parse_args()
    assert namespace is fake.ArgumentParser.last.parsed
    assert made[0] == {"description": "Tessera with Speaker Tracking"}
    assert [a[0][0] for a in made[1:]] == ["--" + n for n in OPTIONS]
    assert made[4] == (("--device",), {"default": "cuda"})
    assert made[20] == (("--rms_normalize",), {"action": "store_true", "default": False,
                                               "help": "是否对输出的全局说话人音频进行RMS归一化（默认关闭）"})
    assert made[10][1]["type"] is int and made[11][1]["type"] is str and made[3][1]["type"] is float
