"""The three command lines (leadvoice, triageflow, the blendkit
demonstration) are built from one option table each by one adapter: every
parser gets exactly the settings its program has always given it, in
definition order, so help, usage errors and values stay as they were."""
import os
import sys
import types

import pytest

import triageflow
import utility.blendkit as blendkit
from helpers import launch, recording_argparse

TRIAGE = [
    ("--scp", {"type": str, "required": True, "help": "输入 scp 文件，每行格式: <utt_id> <wav_path>"}),
    ("--out_jsonl", {"type": str, "required": True, "help": "输出 jsonl 文件路径"}),
    ("--save_dir", {"type": str, "required": True, "help": "分离结果保存根目录（每条音频一个子目录）"}),
    ("--detector_ckpt", {"type": str, "default": "./model_speakers.tar", "help": "多说话人检测模型权重路径"}),
    ("--multi_spks_threshold", {"type": float, "default": 0.3,
                                "help": "multi_spks_rate 阈值；< 阈值则视为单人，跳过分离（默认 0.3）"}),
    ("--inference", {"type": str, "default": "./checkpoint_best.pth", "help": "CSS 分离模型权重路径"}),
    ("--device", {"type": str, "default": "cuda"}),
    ("--seg_duration", {"type": float, "default": 2.4}),
    ("--hop_duration", {"type": float, "default": 1.2}),
    ("--max_speakers", {"type": int, "default": 4}),
    ("--wespeaker_model", {"type": str, "default": "chinese"}),
    ("--similarity_threshold", {"type": float, "default": 0.24}),
    ("--low_similarity_threshold", {"type": float, "default": 0.22}),
    ("--short_speech_duration", {"type": float, "default": 0.8}),
    ("--short_speech_threshold_drop", {"type": float, "default": 0.05}),
    ("--max_inter_sisdr_for_update", {"type": float, "default": -10.0}),
    ("--sisdr_threshold", {"type": float, "default": 20.0}),
    ("--sisdr_threshold_prev", {"type": float, "default": -10.0}),
    ("--merge_threshold", {"type": float, "default": 0.5}),
]

DEMO = [
    ("--speeches", {"nargs": 2, "type": str, "default": ["/data/corpora/LibriSpeech", "/data/corpora/wsj0"]}),
    ("--rirs", {"nargs": "*", "default": ["/data/rirs/simulated_rirs_16k"]}),
    ("--noises", {"nargs": "*", "default": ["/data/noises/*.wav"], "help": "噪声文件 glob 模式（可多个），如 'noises/*.wav'"}),
    ("--samples_per_epoch", {"type": int, "default": None, "help": "每 epoch 总样本数（None 表示无限流）"}),
    ("--batch_size", {"type": int, "default": 2, "help": "batch size"}),
    ("--num_workers", {"type": int, "default": 0, "help": "DataLoader worker 数"}),
    ("--epochs", {"type": int, "default": 2, "help": "epoch 数"}),
    ("--seed", {"type": int, "default": 4, "help": "随机种子"}),
    ("--max_steps_per_epoch", {"type": int, "default": 10, "help": "每 epoch 打印/运行的 step 数（用于 demo，-1 表示全部）"}),
    ("--out_dir", {"type": str, "default": "./blendkit_demo_samples"}),
]


class Parsed(Exception):
    """Stops a program once its parser has parsed."""


def run_triage(monkeypatch):
    triageflow.parse_args()


def run_demo(monkeypatch):
    # The demonstration goes on with the parsed options; stop it there.
    def stop(*args, **kwargs):
        raise Parsed()

    monkeypatch.setattr(blendkit, "os", types.SimpleNamespace(makedirs=stop))
    with pytest.raises(Parsed):
        blendkit._blendkit._run_demonstration()


@pytest.mark.parametrize("package, run, description, expected", [
    (triageflow, run_triage, "Tessera 统一推理链路：多说话人检测 + 主说话人分离", TRIAGE),
    (blendkit, run_demo, "Run IterableTargetSpeakerDataset demo", DEMO),
])
def test_parser_settings_in_definition_order(monkeypatch, package, run, description, expected):
    made = []
    monkeypatch.setattr(package, "argparse", recording_argparse(made))
    run(monkeypatch)
    assert made[0] == {"description": description}
    assert made[1:] == [((flag,), settings) for flag, settings in expected]
    assert [list(kwargs) for _, kwargs in made[1:]] == [list(settings) for _, settings in expected]


def test_demo_keeps_its_option_values_unchecked(monkeypatch, tmp_path, capsys):
    # The demonstration takes its integers as given: no driver range check.
    monkeypatch.setattr(sys, "argv", ["blendkit", "--out_dir", str(tmp_path / "o"), "--epochs", "0",
                                      "--rirs", "--noises", "--speeches", "A", "B", "--batch_size", "-3"])
    monkeypatch.setattr(blendkit, "IterableSeparationDataset", lambda **kw: types.SimpleNamespace(batch_size=None))
    monkeypatch.setattr(blendkit, "DataLoader", lambda *a, **kw: [])
    blendkit._blendkit._run_demonstration()
    out = capsys.readouterr().out
    assert "  batch_size: -3\n" in out and out.endswith("Done.\n")


@pytest.mark.parametrize("package", ["leadvoice", "triageflow", "utility.blendkit"])
def test_help_names_the_module_that_was_run(package):
    done = launch("-m", package, "--help")
    assert done.returncode == 0
    program = os.path.basename(sys.executable) + " -m " + package
    assert done.stdout.startswith("usage: " + program + " [-h] ")
    assert "__main__" not in done.stdout
