"""Both drivers' command lines refuse, as argparse usage errors naming the
option, numeric values that no run can work with."""
import pytest

import leadvoice
import triageflow
from helpers import call_main, parse_command_line
from triage_fakes import write_scp

TRIAGE_REQUIRED = ["--scp", "l.scp", "--out_jsonl", "o.jsonl", "--save_dir", "s"]
DRIVERS = {"triageflow": (triageflow, TRIAGE_REQUIRED, "--multi_spks_threshold"),
           "leadvoice": (leadvoice, [], "--multi_spks_rate_threshold")}
WINDOW = "must be a finite number of seconds greater than 0, got "


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
    (["--max_speakers", "99999999999999999999"], "max_speakers", 99999999999999999999),
    (["--sisdr_threshold_prev=-1e300"], "sisdr_threshold_prev", -1e300),
    (["--short_speech_duration", "0"], "short_speech_duration", 0.0),
])
def test_workable_values_pass(monkeypatch, driver, argv, name, value):
    assert getattr(parse(monkeypatch, driver, *argv), name) == value


def test_a_refused_run_touches_nothing(monkeypatch, capsys, tmp_path):
    scp = write_scp(tmp_path, [("u", tmp_path / "a.wav")])
    with pytest.raises(SystemExit) as stop:
        call_main(monkeypatch, triageflow, "--scp", str(scp), "--out_jsonl", str(tmp_path / "r" / "o.jsonl"),
                  "--save_dir", str(tmp_path / "sep"), "--hop_duration", "-1")
    assert stop.value.code == 2
    assert capsys.readouterr().out == ""
    assert sorted(p.name for p in tmp_path.iterdir()) == ["list.scp"]
