"""Speed of the training stream's signal functions against the NumPy /
soundfile / resampy expressions they stand for, measured in the same process
on signals of the stream's sizes (3 s at 16 kHz, an 0.5 s impulse response).
Prints one ratio (reference time / ours) per function.
"""
import os
import random
import sys
import tempfile
import time

import numpy as np
import resampy
import soundfile as sf

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

import utility.blendkit as bk  # noqa: E402

REPEATS = 7
INNER = 20


def best_time(fn):
    best = float("inf")
    for _ in range(REPEATS):
        start = time.perf_counter()
        for _ in range(INNER):
            fn()
        best = min(best, (time.perf_counter() - start) / INNER)
    return best


def ref_load(path, target_sr):
    data, sr = sf.read(path, dtype="float32")
    if data.ndim == 2:
        data = data[:, 0]
    data = np.ascontiguousarray(np.asarray(data, dtype=np.float32)).reshape(-1)
    if data.size > 0 and sr != target_sr:
        data = resampy.resample(data, sr, target_sr, filter="kaiser_fast")
        sr = target_sr
    return data, int(sr)


def ref_convolve(signal, ir):
    n = signal.size + ir.size - 1
    nfft = 1 << (n - 1).bit_length()
    return np.fft.irfft(np.fft.rfft(signal, n=nfft) * np.fft.rfft(ir, n=nfft), n=nfft)[:n].astype(np.float32)


def ref_rms(x, eps=1e-9):
    return float(np.sqrt(np.mean(x.astype(np.float64) ** 2) + eps))


def ref_scale_for_sir(target, interferer, sir_db):
    return (interferer * (ref_rms(target) / (ref_rms(interferer) * 10.0 ** (sir_db / 20.0)))).astype(np.float32)


def ref_mix(clean, noise, snr_db, rng):
    n = clean.size
    start = rng.randint(0, noise.size - n)
    seg = noise[start:start + n]
    rms_clean = np.sqrt(np.mean(clean ** 2) + 1e-9)
    rms_noise = np.sqrt(np.mean(seg ** 2) + 1e-9)
    return (clean + seg * (rms_clean / (10 ** (snr_db / 20.0)) / rms_noise)).astype(np.float32)


def main():
    gen = np.random.default_rng(0)
    speech = (gen.standard_normal(48000) * 0.1).astype(np.float32)
    ir = (gen.standard_normal(8000) * np.exp(-np.arange(8000) / 1500.0)).astype(np.float32)
    noise = (gen.standard_normal(160000) * 0.1).astype(np.float32)
    with tempfile.TemporaryDirectory() as tmp:
        at_16k = os.path.join(tmp, "a.wav")
        at_8k = os.path.join(tmp, "b.wav")
        sf.write(at_16k, np.tile(speech, 2), 16000, subtype="PCM_16")
        sf.write(at_8k, speech, 8000, subtype="PCM_16")
        cases = [
            ("_load_audio 6 s wav at 16 kHz", lambda: ref_load(at_16k, 16000), lambda: bk._load_audio(at_16k, 16000)),
            ("_load_audio 6 s wav 8 -> 16 kHz", lambda: ref_load(at_8k, 16000), lambda: bk._load_audio(at_8k, 16000)),
            ("_fft_convolve 48000 x 8000", lambda: ref_convolve(speech, ir), lambda: bk._fft_convolve(speech, ir)),
            ("rms 48000", lambda: ref_rms(speech), lambda: bk.rms(speech)),
            ("_scale_for_sir 48000", lambda: ref_scale_for_sir(speech, speech, 3.0),
             lambda: bk._scale_for_sir(speech, speech, 3.0)),
            ("_mix_noise_at_snr 48000 in 160000", lambda: ref_mix(speech, noise, 5.0, random.Random(1)),
             lambda: bk._mix_noise_at_snr(speech, noise, 5.0, random.Random(1))),
        ]
        for name, ref, ours in cases:
            t_ref, t_ours = best_time(ref), best_time(ours)
            print("%-36s reference %8.3f ms  ours %8.3f ms  ratio %5.1fx" % (name, t_ref * 1e3, t_ours * 1e3,
                                                                         t_ref / t_ours))


if __name__ == "__main__":
    main()
