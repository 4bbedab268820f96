"""Both drivers' command lines refuse, as argparse usage errors naming the
option, numeric values that no run can work with."""
import os
import sys
import types

import numpy as np
import pytest

import leadvoice
import triageflow
from helpers import SR, call_main, launch, parse_command_line, recording_network, write_wav
from triage_fakes import write_scp

TRIAGE_REQUIRED = ["--scp", "l.scp", "--out_jsonl", "o.jsonl", "--save_dir", "s"]
DRIVERS = {"triageflow": (triageflow, TRIAGE_REQUIRED, "--multi_spks_threshold"),
           "leadvoice": (leadvoice, [], "--multi_spks_rate_threshold")}
WINDOW = "must be a finite number of seconds greater than 0, got "
UNDER_ONE_SAMPLE = "must be at least one sample at 16000 Hz (6.25e-05 s), got "
COUNT_OUT_OF_RANGE = "must give a sample count at 16000 Hz that fits a 64-bit integer, got "
BEYOND_64_BITS = "must fit a 64-bit integer (at most 9223372036854775807), got "
# Values that once reached the core: a zero-sample window, a sample count
# beyond 64 bits, an infinite sample count, windows of no sample.
UNUSABLE_VALUES = [
    (["--seg_duration", "1e-300", "--hop_duration", "1e-300"], "argument --seg_duration: " + UNDER_ONE_SAMPLE + "1e-300"),
    (["--seg_duration", "1e300", "--hop_duration", "1e300"], "argument --seg_duration: " + COUNT_OUT_OF_RANGE + "1e+300"),
    (["--short_speech_duration", "1e308"], "argument --short_speech_duration: " + COUNT_OUT_OF_RANGE + "1e+308"),
    (["--seg_duration", "1e-6", "--hop_duration", "1e-6"], "argument --seg_duration: " + UNDER_ONE_SAMPLE + "1e-06"),
    # A speaker count the core's 64-bit integers cannot hold.
    (["--max_speakers", "99999999999999999999"], "argument --max_speakers: " + BEYOND_64_BITS + "99999999999999999999"),
]


def parse(monkeypatch, driver, *argv):
    module, required, _ = DRIVERS[driver]
    return parse_command_line(monkeypatch, module, *required, *argv)


@pytest.mark.parametrize("driver", DRIVERS)
@pytest.mark.parametrize("argv, message", [
    (["--hop_duration", "0"], "argument --hop_duration: " + WINDOW + "0.0"),
    (["--hop_duration=-1"], "argument --hop_duration: " + WINDOW + "-1.0"),
    (["--seg_duration", "inf"], "argument --seg_duration: " + WINDOW + "inf"),
    (["--seg_duration", "nan", "--hop_duration", "0"], "argument --seg_duration: " + WINDOW + "nan"),
    (["--seg_duration", "2.0", "--hop_duration", "3.0"],
     "argument --hop_duration: must not be longer than --seg_duration (3.0 > 2.0), or the windows leave gaps"),
    (["--max_speakers", "0"], "argument --max_speakers: must be at least 1, got 0"),
    (["--max_speakers", "-99999999999999999999"],
     "argument --max_speakers: must be at least 1, got -99999999999999999999"),
    (["--sisdr_threshold", "nan"], "argument --sisdr_threshold: must be a finite number, got nan"),
    (["--merge_threshold=-inf"], "argument --merge_threshold: must be a finite number, got -inf"),
    (["--short_speech_duration", "inf"], "argument --short_speech_duration: must be a finite number, got inf"),
    (["RATE", "nan"], "RATE: must be a finite number, got nan"),
    *UNUSABLE_VALUES,
    (["--hop_duration", "1e-6"], "argument --hop_duration: " + UNDER_ONE_SAMPLE + "1e-06"),
    (["--hop_duration", "1e300"], "argument --hop_duration: " + COUNT_OUT_OF_RANGE + "1e+300"),
    (["--short_speech_duration=-1e300"], "argument --short_speech_duration: " + COUNT_OUT_OF_RANGE + "-1e+300"),
    (["--max_speakers=9223372036854775808"], "argument --max_speakers: " + BEYOND_64_BITS + "9223372036854775808"),
])
def test_unworkable_values_are_usage_errors(monkeypatch, capsys, driver, argv, message):
    rate_flag = DRIVERS[driver][2]
    argv = [rate_flag if a == "RATE" else a for a in argv]
    message = message.replace("RATE", "argument " + rate_flag)
    with pytest.raises(SystemExit) as stop:
        parse(monkeypatch, driver, *argv)
    assert stop.value.code == 2
    err = capsys.readouterr().err
    assert err.startswith("usage: ") and err.endswith(f"{driver}: error: {message}\n")


@pytest.mark.parametrize("driver", DRIVERS)
@pytest.mark.parametrize("argv, name, value", [
    (["--seg_duration", "2", "--hop_duration", "2"], "hop_duration", 2.0),  # windows that just touch
    (["--hop_duration", "1e-3"], "hop_duration", 0.001),
    (["--max_speakers", "1"], "max_speakers", 1),
    (["--max_speakers", "9223372036854775807"], "max_speakers", 9223372036854775807),
    (["--sisdr_threshold_prev=-1e300"], "sisdr_threshold_prev", -1e300),
    (["--short_speech_duration", "0"], "short_speech_duration", 0.0),
    (["--hop_duration", "6.25e-05"], "hop_duration", 6.25e-05),  # one sample
    (["--seg_duration", "1e9"], "seg_duration", 1e9),  # longer than any recording: no window
    (["--short_speech_duration", "1e-6"], "short_speech_duration", 1e-6),
])
def test_workable_values_pass(monkeypatch, driver, argv, name, value):
    assert getattr(parse(monkeypatch, driver, *argv), name) == value


def driver_inputs(driver, folder):
    """The inputs of a run that would load its models: one listed recording."""
    wav = write_wav(folder / "in" / "a.wav", np.zeros(SR, np.float32), SR)
    if driver == "leadvoice":
        return ["--data_path", str(folder / "in"), "--save_dir", str(folder / "sep")]
    scp = write_scp(folder, [("u", wav)])
    return ["--scp", str(scp), "--out_jsonl", str(folder / "r" / "o.jsonl"), "--save_dir", str(folder / "sep")]


@pytest.mark.parametrize("driver", DRIVERS)
@pytest.mark.parametrize("argv, message", [(["--hop_duration", "-1"], "argument --hop_duration: " + WINDOW + "-1.0"),
                                           *UNUSABLE_VALUES])
def test_a_refused_run_touches_nothing(monkeypatch, capsys, tmp_path, driver, argv, message):
    module = DRIVERS[driver][0]
    built = []
    monkeypatch.setattr(module, "unmixer_core", types.SimpleNamespace(TFLocoformerSEP=recording_network(built)))
    inputs = driver_inputs(driver, tmp_path)
    before = sorted(p.relative_to(tmp_path) for p in tmp_path.rglob("*"))
    with pytest.raises(SystemExit) as stop:
        call_main(monkeypatch, module, *inputs, *argv)
    assert stop.value.code == 2
    out, err = capsys.readouterr()
    assert out == "" and err.startswith("usage: ") and err.endswith(f"{driver}: error: {message}\n")
    assert built == [], "no model may be loaded"
    assert sorted(p.relative_to(tmp_path) for p in tmp_path.rglob("*")) == before


@pytest.mark.parametrize("driver", DRIVERS)
def test_a_launched_run_with_a_speaker_count_beyond_64_bits_is_a_usage_error(tmp_path, driver):
    inputs = driver_inputs(driver, tmp_path)
    before = sorted(p.relative_to(tmp_path) for p in tmp_path.rglob("*"))
    done = launch("-m", driver, *inputs, "--max_speakers", "99999999999999999999", "--device", "cpu", cwd=tmp_path)
    assert done.returncode == 2 and done.stdout == ""
    program = os.path.basename(sys.executable) + " -m " + driver
    assert done.stderr.startswith("usage: " + program + " ")
    assert done.stderr.endswith(f"{program}: error: argument --max_speakers: {BEYOND_64_BITS}99999999999999999999\n")
    assert sorted(p.relative_to(tmp_path) for p in tmp_path.rglob("*")) == before
