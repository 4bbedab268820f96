"""Both drivers' wav writes in whole runs: a run killed while it writes a
stream leaves a hidden temporary that a later write of that stream removes,
never while a live run still holds it; no run changes the process's umask,
and the files it writes take the permissions a plain create gives."""
import os
import shutil
import signal
import stat
import subprocess
import sys
import time

import pytest
import soundfile as sf

from helpers import ROOT, SR, TESTS, interpreter_env, two_talkers
from triage_fakes import write_scp
from utility.unmixer_core import write_checkpoint

HOLD_WRITE = os.path.join(ROOT, "build", "tests", "cpp", "libhold_write.so")
TRIAGEFLOW = ("import sys\nimport triageflow\nfrom triage_fakes import PeakDetector\n"
              "triageflow.NoisyDetectorV2 = PeakDetector\nsys.argv[0] = 'triageflow'\ntriageflow.main()\n")
SECONDS = 6.0


def temporaries(folder):
    return sorted(n for n in os.listdir(folder) if n.startswith("."))


class Driver:
    """One driver's command line over one recording, and the folder where
    the stream named `stream` lands."""

    def __init__(self, name, tmp_path, models):
        self.name = name
        wav = tmp_path / "in" / "rec.wav"
        wav.parent.mkdir(exist_ok=True)
        sf.write(wav, two_talkers(SECONDS, 0.6, seed=70), SR)
        self.sep = tmp_path / "sep"
        self.runs = 0
        if name == "leadvoice":
            self.stream, self.folder = "mix.wav", self.sep / "rec"
            self.argv = ["-m", "leadvoice", "--data_path", str(wav.parent), "--inference",
                         write_checkpoint(str(tmp_path / "ckpt.pth")), "--save_dir", str(self.sep), "--device", "cpu"]
        else:
            self.stream, self.folder = "main_speaker_0.wav", self.sep / "u1"
            self.argv = ["-c", TRIAGEFLOW, "--scp", str(write_scp(tmp_path, [("u1", wav)])), "--save_dir",
                         str(self.sep), "--detector_ckpt", models["detector"], "--inference", models["sep"],
                         "--device", "cpu", "--multi_spks_threshold", "0.5"]

    def command(self):
        # Each triageflow run its own result file: a second run on one result file is refused.
        self.runs += 1
        extra = [] if self.name == "leadvoice" else ["--out_jsonl", str(self.sep.parent / f"out{self.runs}.jsonl")]
        return [sys.executable, *self.argv, *extra]

    def run(self, prefix=(), umask=None, **variables):
        return subprocess.run([*prefix, *self.command()], capture_output=True, text=True, timeout=300,
                              env=interpreter_env([TESTS], **variables),
                              preexec_fn=None if umask is None else (lambda: os.umask(umask)))


@pytest.fixture(params=["leadvoice", "triageflow"])
def driver(request, tmp_path, pipeline_models):
    return Driver(request.param, tmp_path, pipeline_models)


def start_held(driver, ready):
    """A run of `driver` held at its write of the stream's temporary, that
    file half written."""
    run = subprocess.Popen(driver.command(), stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                           env=interpreter_env([TESTS], LD_PRELOAD=HOLD_WRITE, HOLD_WRITE_READY=str(ready),
                                               HOLD_WRITE_PATH_PART=f"/.{driver.stream}."))
    deadline = time.monotonic() + 120
    while not ready.exists():
        if run.poll() is not None or time.monotonic() > deadline:
            run.kill()
            pytest.fail(f"the run was never held: {run.communicate()[1]}")
        time.sleep(0.05)
    return run


def test_a_killed_run_leaves_a_temporary_that_a_rerun_removes(driver, tmp_path):
    assert os.path.exists(HOLD_WRITE), "build the tests first"
    held = start_held(driver, tmp_path / "ready")
    left = temporaries(driver.folder)
    assert len(left) == 1 and left[0].startswith(f".{driver.stream}.")
    assert os.path.getsize(driver.folder / left[0]) > 4096  # a header and part of the samples

    # A second run while the first lives writes the stream and leaves the held temporary.
    second = driver.run()
    assert second.returncode == 0, second.stderr
    assert temporaries(driver.folder) == left
    assert sf.info(str(driver.folder / driver.stream)).frames > 0

    held.send_signal(signal.SIGKILL)
    held.wait()
    assert temporaries(driver.folder) == left
    third = driver.run()
    assert third.returncode == 0, third.stderr
    assert temporaries(driver.folder) == []


@pytest.mark.skipif(shutil.which("strace") is None, reason="strace is not installed")
@pytest.mark.parametrize("umask", [0o027, 0o000])
def test_a_run_leaves_the_umask_alone_and_writes_with_a_plain_creates_permissions(driver, tmp_path, umask):
    trace = tmp_path / "trace"
    done = driver.run(prefix=["strace", "-f", "-qq", "-e", "trace=umask", "-e", "signal=none", "-o", str(trace)], umask=umask)
    assert done.returncode == 0, done.stderr
    assert "umask" not in trace.read_text()
    wavs = [os.path.join(folder, n) for folder, _, names in os.walk(driver.sep) for n in names if n.endswith(".wav")]
    assert str(driver.folder / driver.stream) in wavs
    assert {oct(stat.S_IMODE(os.stat(w).st_mode)) for w in wavs} == {oct(0o666 & ~umask)}
