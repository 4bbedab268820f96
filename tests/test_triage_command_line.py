"""parse_args: the interpreter's argparse with the pipeline's 19 options."""
import pytest

import triageflow
from helpers import parse_command_line, parse_exit_code

REQUIRED = ["--scp", "l.scp", "--out_jsonl", "o.jsonl", "--save_dir", "s"]
DEFAULTS = {
    "scp": "l.scp", "out_jsonl": "o.jsonl", "save_dir": "s", "detector_ckpt": "./model_speakers.tar",
    "multi_spks_threshold": 0.3, "inference": "./checkpoint_best.pth", "device": "cuda", "seg_duration": 2.4,
    "hop_duration": 1.2, "max_speakers": 4, "wespeaker_model": "chinese", "similarity_threshold": 0.24,
    "low_similarity_threshold": 0.22, "short_speech_duration": 0.8, "short_speech_threshold_drop": 0.05,
    "max_inter_sisdr_for_update": -10.0, "sisdr_threshold": 20.0, "sisdr_threshold_prev": -10.0,
    "merge_threshold": 0.5,
}


def parse(monkeypatch, *argv):
    return parse_command_line(monkeypatch, triageflow, *argv)


def test_defaults_in_option_order(monkeypatch):
    args = vars(parse(monkeypatch, *REQUIRED))
    assert list(args.items()) == list(DEFAULTS.items())
    assert type(args["max_speakers"]) is int and type(args["merge_threshold"]) is float


@pytest.mark.parametrize("argv, changed", [
    (["--hop_duration", "2"], {"hop_duration": 2.0}),
    (["--multi_spks_threshold", "-0.1"], {"multi_spks_threshold": -0.1}),
    (["--merge=0.7", "--device", "cpu"], {"merge_threshold": 0.7, "device": "cpu"}),
    (["--sisdr_threshold", "5"], {"sisdr_threshold": 5.0}),
    (["--max_speakers", "2", "--max_speakers", "3"], {"max_speakers": 3}),
])
def test_values(monkeypatch, argv, changed):
    assert vars(parse(monkeypatch, *REQUIRED, *argv)) == {**DEFAULTS, **changed}


@pytest.mark.parametrize("argv, message", [
    ([], "the following arguments are required: --scp, --out_jsonl, --save_dir"),
    (REQUIRED[:4], "the following arguments are required: --save_dir"),
    (REQUIRED + ["--max_speakers", "2.5"], "argument --max_speakers: invalid int value: '2.5'"),
    (REQUIRED + ["--max", "2"], "ambiguous option: --max could match"),
    (REQUIRED + ["--device"], "argument --device: expected one argument"),
    (REQUIRED + ["extra"], "unrecognized arguments: extra"),
])
def test_errors_exit_2(monkeypatch, capsys, argv, message):
    assert parse_exit_code(monkeypatch, triageflow, *argv) == 2
    assert message in capsys.readouterr().err


def test_help(monkeypatch, capsys):
    assert parse_exit_code(monkeypatch, triageflow, "--help") == 0
    out = capsys.readouterr().out
    assert "Tessera 统一推理链路：多说话人检测 + 主说话人分离" in out
    assert "multi_spks_rate 阈值；< 阈值则视为单人，跳过分离（默认 0.3）" in out
