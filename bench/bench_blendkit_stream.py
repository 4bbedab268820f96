"""Batches per second of the blendkit training stream (one worker, batch size
4, 4 speakers, 3 s segments, reverberation and noise on every batch) against
the same stream written here with NumPy and random, run side by side in the
same process on the same generated corpus, and whether memory stays flat over
2,000 batches.

The corpus mixes WAV and FLAC files, half of its utterances recorded at 8 kHz.
The NumPy rendering reads every file whole with soundfile, resamples with a
NumPy polyphase rendering of the "kaiser_fast" windowed-sinc filter (the same
filter table, each output phase one matrix-vector product over sliding
windows) and convolves with NumPy's real FFT.

Target: at least 5x the NumPy rendering's batches per second.

Where the time goes (perf over 1,000 batches, after warm-up): FFTW's
transforms of the reverberated sources about 24%, plus 4% for the products
with the responses' kept spectra and the scaling back; resampling the 8 kHz
crops 16%; decoding and reading the FLAC and WAV crops 16%; the interpreter
(random streams, glue) 8%; copies, fills and allocation 8%; torch (tensors,
collation) 6%; levels and gains 7%; the kernel (file reads) 5%. The NumPy
rendering spends about a third of its time resampling whole utterances, a
fifth in NumPy's double-precision FFT and an eighth in the interpreter.
"""
import math
import os
import random
import resource
import sys
import tempfile
import time

import numpy as np
import soundfile as sf
import torch
from torch.nn.utils.rnn import pad_sequence

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, ROOT)

import utility.blendkit as bk  # noqa: E402

TARGET = 5.0
RATE = 16000
BATCH = 4
SPEAKERS = 4
SEGMENT_S = 3.0
# Rounds of (baseline batches, blendkit batches), alternated so that a change
# of machine load falls on both sides.
ROUNDS = int(os.environ.get("BENCH_ROUNDS", "3"))
BASELINE_BATCHES = 10
TIMED_BATCHES = 50
CHECKED_BATCHES = 3
TOLERANCE = 1e-4
MEMORY_BATCHES = int(os.environ.get("BENCH_MEMORY_BATCHES", "2000"))


# ---- the corpus -------------------------------------------------------------------------------

def make_bench_corpus(root):
    """Two corpora of 12 speakers x 6 utterances of 6-14 s, every other
    utterance FLAC and the rest 16-bit WAV: the first at 16 kHz, the second at
    8 kHz (its utterances are resampled); 6 rooms of 4 impulse responses of
    0.5 s; 4 noise files of 30 s, one of them FLAC."""
    gen = np.random.default_rng(0)
    speakers = {}
    for corpus, rate in (("libri", 16000), ("wsj0", 8000)):
        for k in range(12):
            files = []
            for u in range(6):
                n = int(gen.uniform(6.0, 14.0) * rate)
                ext = "flac" if u % 2 else "wav"
                path = os.path.join(root, corpus, f"spk{k}", f"utt{u}.{ext}")
                os.makedirs(os.path.dirname(path), exist_ok=True)
                sf.write(path, (0.1 * gen.standard_normal(n)).astype(np.float32), rate, subtype="PCM_16")
                files.append(path)
            speakers[f"{corpus}_{k}"] = files
    rir_map = {"smallroom": {}}
    for r in range(6):
        files = []
        for f in range(4):
            h = gen.standard_normal(8000) * np.exp(-np.arange(8000) / 1200.0) * 0.3
            h[0] = 1.0
            path = os.path.join(root, "rirs", "smallroom", f"room{r}", f"rir{f}.wav")
            os.makedirs(os.path.dirname(path), exist_ok=True)
            sf.write(path, h.astype(np.float32), RATE, subtype="FLOAT")
            files.append(path)
        rir_map["smallroom"][f"room{r}"] = files
    noises = []
    for i in range(4):
        path = os.path.join(root, "noises", f"noise{i}.{'flac' if i == 3 else 'wav'}")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        sf.write(path, (0.05 * gen.standard_normal(30 * RATE)).astype(np.float32), RATE, subtype="PCM_16")
        noises.append(path)
    return speakers, rir_map, noises


# ---- the same stream with NumPy and random ----------------------------------------------------

def np_safe_sf_read(path, dtype="float32"):
    try:
        data, sr = sf.read(path, dtype=dtype)
        return data, int(sr)
    except Exception as e:
        print(f"[Warning] sf.read failed for {path}: {e}")
        return np.zeros(0, dtype=np.float32), 16000


def kaiser_fast_wing():
    """The right wing of the "kaiser_fast" filter: rolloff * sinc(rolloff * t)
    under the right half of a Kaiser window, 2**9 entries per zero crossing."""
    num_zeros, precision, rolloff, beta = 24, 9, 0.868212, 9.90322
    num_table = 2 ** precision
    n = num_table * num_zeros
    sinc = rolloff * np.sinc(rolloff * np.linspace(0.0, num_zeros, n + 1))
    taper = np.kaiser(2 * n + 1, beta)[n:]
    return taper * sinc, num_table


WING, NUM_TABLE = kaiser_fast_wing()


def wing_taps(win, delta, step, frac):
    """One wing's taps for an output at fraction `frac` of an input step, the
    table read with linear interpolation between its entries."""
    index_frac = frac * NUM_TABLE
    offset = int(index_frac)
    eta = index_frac - offset
    idx = offset + step * np.arange((win.size - offset) // step)
    return win[idx] + eta * delta[idx]


def np_resample(y, orig_sr, target_sr):
    """librosa.resample(..., res_type="kaiser_fast") in NumPy, polyphase: the
    outputs of one phase share one kernel, applied to every input window at
    once; then librosa's length fix."""
    ratio = float(target_sr) / orig_sr
    n_out = int(np.ceil(y.size * ratio))
    n_interp = int(y.size * ratio)
    scale = min(1.0, ratio)
    step = max(1, int(scale * NUM_TABLE))
    win = WING * scale
    delta = np.append(np.diff(win), 0.0)
    g = math.gcd(int(orig_sr), int(target_sr))
    up, down = int(target_sr) // g, int(orig_sr) // g
    pad = win.size // step + 2
    x = np.concatenate([np.zeros(pad), y.astype(np.float64), np.zeros(pad)])
    windows = np.lib.stride_tricks.sliding_window_view(x, 2 * pad)
    out = np.zeros(n_out, dtype=y.dtype)
    for k in range(min(up, n_interp)):
        n0, rem = divmod(k * down, up)
        frac = scale * rem / up
        left = wing_taps(win, delta, step, frac)
        right = wing_taps(win, delta, step, scale - frac)
        kernel = np.zeros(2 * pad)
        # Window position pad - 1 is input sample n, the left wing reaching
        # back from it and the right wing forward from n + 1.
        kernel[pad - left.size:pad] = left[::-1]
        kernel[pad:pad + right.size] = right
        count = (n_interp - k + up - 1) // up
        first = n0 + 1
        out[k:n_interp:up] = windows[first:first + down * count:down] @ kernel
    return out


def np_load_audio(path, target_sr):
    data, sr = np_safe_sf_read(path, dtype="float32")
    if getattr(data, "ndim", 0) == 2:
        data = data[:, 0]
    data = np.ascontiguousarray(np.asarray(data, dtype=np.float32)).reshape(-1)
    if data.size > 0 and sr != target_sr:
        try:
            data = np_resample(data, sr, target_sr)
            sr = target_sr
        except Exception as e:
            print(f"[Warning] failed resample audio {path}: {e}")
    return data, int(sr)


def np_fft_convolve(signal, ir):
    if signal.size == 0 or ir.size == 0:
        return np.zeros(0, dtype=np.float32)
    n = signal.size + ir.size - 1
    nfft = 1 << (n - 1).bit_length()
    conv = np.fft.irfft(np.fft.rfft(signal, n=nfft) * np.fft.rfft(ir, n=nfft), n=nfft)[:n]
    return conv.astype(np.float32)


def np_rms(x, eps=1e-9):
    if x is None or x.size == 0:
        return 0.0
    return float(np.sqrt(np.mean(x.astype(np.float64) ** 2) + eps))


def np_preserve_rms(orig, processed, eps=1e-12):
    r_orig, r_proc = np_rms(orig), np_rms(processed)
    if r_proc < eps:
        return processed
    return processed * (r_orig / r_proc)


def np_scale_for_sir(target, interferer, sir_db):
    rt, ri = np_rms(target), np_rms(interferer)
    if ri == 0.0:
        return np.zeros_like(interferer, dtype=np.float32)
    k = rt / (ri * (10.0 ** (sir_db / 20.0)))
    return (interferer * k).astype(np.float32)


def np_mix_noise_at_snr(clean, noise, snr_db, rng):
    if clean.size == 0:
        return clean
    n = clean.size
    if noise.size >= n:
        start = rng.randint(0, noise.size - n)
        noise_seg = noise[start:start + n]
    else:
        reps = int(np.ceil(n / noise.size))
        noise_seg = np.tile(noise, reps)[:n]
    eps = 1e-9
    rms_clean = np.sqrt(np.mean(clean ** 2) + eps)
    rms_noise = np.sqrt(np.mean(noise_seg ** 2) + eps)
    target_noise_rms = rms_clean / (10 ** (snr_db / 20.0))
    return (clean + noise_seg * (target_noise_rms / rms_noise)).astype(np.float32)


class NumpyStream:
    def __init__(self, speakers_map, rir_map, noise_files, speaker_count_probs, seed=0, target_sr=16000,
                 segment_seconds=3.0, snr_range=(0.0, 20.0), sir_range=(-5.0, 5.0), overlap_range=(0.3, 1.0),
                 apply_rir_prob=0.8, apply_noise_prob=0.8, batch_size=4):
        self.speakers = {k: v for k, v in speakers_map.items() if len(v) >= 2}
        self.speaker_ids = list(self.speakers)
        self.target_sr = target_sr
        self.rir_rooms = [(t, r, f) for t, rooms in rir_map.items() for r, f in rooms.items() if f]
        self.noise_files = list(noise_files)
        self.snr_range, self.sir_range, self.overlap_range = snr_range, sir_range, overlap_range
        self.apply_rir_prob, self.apply_noise_prob = apply_rir_prob, apply_noise_prob
        self.speaker_count_probs = speaker_count_probs
        self.segment_samples = int(round(segment_seconds * target_sr))
        self.seed, self.epoch, self.batch_size = seed, 0, batch_size
        self._rir_cache, self._noise_cache = {}, {}

    def _sample_speakers_and_utts(self, rng, num_spk):
        if num_spk <= 0:
            return []
        sampled, sampled_spks, tries = [], set(), 0
        tries_limit = max(num_spk * 10, 100)
        other = list(self.speaker_ids)
        while len(sampled) < num_spk and tries < tries_limit:
            tries += 1
            cand = rng.choice(other)
            if cand in sampled_spks and len(sampled_spks) < len(other):
                continue
            sampled.append((cand, rng.choice(self.speakers[cand])))
            sampled_spks.add(cand)
        while len(sampled) < num_spk:
            cand = rng.choice(other)
            sampled.append((cand, rng.choice(self.speakers[cand])))
        return sampled

    def _sample_rir_room_and_files(self, rng, num=1):
        if not self.rir_rooms:
            return None
        files = rng.choice(self.rir_rooms)[2]
        if not files:
            return None
        if num <= 0:
            return []
        if len(files) >= num:
            return rng.sample(files, num)
        return [rng.choice(files) for _ in range(num)]

    def _sample_noise_segment(self, noise_full, rng, class_duration_sec=10.0):
        L = self.segment_samples
        if noise_full is None or int(noise_full.size) == 0:
            return np.zeros(L, dtype=np.float32)
        total = int(noise_full.size)
        class_samples = int(round(class_duration_sec * self.target_sr)) or L
        num_classes = total // class_samples if total >= class_samples else 1
        start_c = rng.randrange(num_classes) * class_samples
        region = noise_full[start_c:min(start_c + class_samples, total)].astype(np.float32)
        if region.size >= L:
            max_offset = region.size - L
            start = rng.randint(0, max_offset) if max_offset > 0 else 0
            return region[start:start + L].astype(np.float32)
        reps = int(np.ceil(L / region.size))
        return np.tile(region, reps)[:L].astype(np.float32)

    def _load_and_resample_rir(self, path):
        if path in self._rir_cache:
            return self._rir_cache[path]
        rir, sr = np_safe_sf_read(path, dtype="float32")
        if rir.ndim == 2:
            rir = rir[:, 0]
        if sr != self.target_sr:
            rir = np_resample(rir.astype(np.float32), sr, self.target_sr)
        rir = np.ascontiguousarray(np.asarray(rir, dtype=np.float32))
        self._rir_cache[path] = rir
        return rir

    def _synthesize(self, rng, batch_rng, sample_rng, n, apply_rir, apply_noise):
        L = self.segment_samples

        def pad_or_crop(wav, rng_local, mode):
            if wav.size >= L:
                start = 0
                if mode == "random" and wav.size > L:
                    start = rng_local.randint(0, wav.size - L)
                return wav[start:start + L].astype(np.float32)
            out = np.zeros(L, dtype=np.float32)
            out[:wav.size] = wav
            return out

        def to_tensor(x):
            return torch.zeros(1, dtype=torch.float32) if x is None or x.size == 0 else torch.from_numpy(x).float()

        try:
            picks = self._sample_speakers_and_utts(rng, n)
        except Exception:
            return None
        entries = [(spk, p, np_load_audio(p, self.target_sr)[0]) for spk, p in picks]
        segs = [pad_or_crop(w, rng, "random") for _, _, w in entries]
        reverb, rir_used = segs, None
        if apply_rir and self.rir_rooms:
            paths = self._sample_rir_room_and_files(batch_rng, num=n)
            if paths:
                rirs = [self._load_and_resample_rir(p) for p in paths]
                reverb = [pad_or_crop(np_fft_convolve(segs[i], rirs[i])[:segs[i].size].astype(np.float32)[:L],
                                      None, "start") for i in range(n)]
                rir_used = paths
        preserved = [np_preserve_rms(segs[i], reverb[i]) for i in range(n)]
        scaled = [preserved[0]] + [np_scale_for_sir(preserved[0], preserved[i], rng.uniform(*self.sir_range))
                                   for i in range(1, n)]
        min_o, max_o = self.overlap_range
        ref = sample_rng.randint(0, n - 1)
        overlaps = [1.0 if i == ref else max(0.0, min(1.0, sample_rng.uniform(min_o, max_o))) for i in range(n)]
        placed, offsets, lens = [], [], []
        for i, s in enumerate(scaled):
            if i == ref:
                placed.append(s)
                offsets.append(0)
                lens.append(int(np.count_nonzero(s)))
                continue
            ol = int(round(overlaps[i] * L))
            src = 0 if s.size == ol else sample_rng.randint(0, s.size - ol)
            dst = 0 if L == ol else sample_rng.randint(0, L - ol)
            out = np.zeros(L, dtype=np.float32)
            out[dst:dst + ol] = s[src:src + ol]
            placed.append(out)
            offsets.append(dst)
            lens.append(ol)
        speech = np.stack(placed, axis=0).sum(axis=0).astype(np.float32)
        mixture, noise_path = speech, None
        if apply_noise and self.noise_files:
            noise_path = batch_rng.choice(self.noise_files)
            if noise_path not in self._noise_cache:
                data, nsr = np_safe_sf_read(noise_path, dtype="float32")
                if data.ndim == 2:
                    data = data[:, 0]
                if nsr != self.target_sr and data.size > 0:
                    data = np_resample(data.astype(np.float32), nsr, self.target_sr)
                self._noise_cache[noise_path] = np.ascontiguousarray(np.asarray(data, dtype=np.float32))
            noise_seg = self._sample_noise_segment(self._noise_cache[noise_path], rng)
            mixture = np_mix_noise_at_snr(speech, noise_seg, rng.uniform(*self.snr_range), rng)
        return {
            "sources": [to_tensor(p) for p in placed], "sources_offset": offsets, "sources_len": lens,
            "mixture": to_tensor(mixture), "num_spk": n, "sr": self.target_sr,
            "source_ids": [e[0] for e in entries],
            "paths": {"sources": [e[1] for e in entries], "rir_used": rir_used, "noise_path": noise_path,
                      "rir_applied_batch": apply_rir, "noise_applied_batch": apply_noise},
        }

    def __iter__(self):
        base = self.seed + self.epoch * 1000000000
        rng = random.Random(base)
        bs = max(int(self.batch_size), 1)
        batch_count = 0
        while True:
            batch_rng = random.Random(base + batch_count)
            apply_rir = bool(self.rir_rooms) and batch_rng.random() <= self.apply_rir_prob
            apply_noise = bool(self.noise_files) and batch_rng.random() <= self.apply_noise_prob
            pop, weights = list(self.speaker_count_probs), list(self.speaker_count_probs.values())
            n = max(1, min(4, int(batch_rng.choices(population=pop, weights=weights, k=1)[0])))
            samples, tries = [], 0
            while len(samples) < bs:
                sample_rng = random.Random(base + batch_count * 1000000 + len(samples))
                tries += 1
                if tries > bs * 20:
                    break
                record = self._synthesize(rng, batch_rng, sample_rng, n, apply_rir, apply_noise)
                if record is not None:
                    samples.append(record)
            if len(samples) < bs:
                return
            sources = torch.stack([pad_sequence([r["sources"][t] for r in samples], batch_first=True)
                                   for t in range(n)], dim=1)
            mixture = pad_sequence([r["mixture"] for r in samples], batch_first=True).unsqueeze(1)
            batch_count += 1
            yield {"sources": sources, "mixture": mixture, "source_ids": [r["source_ids"] for r in samples],
                   "paths": [r["paths"] for r in samples]}


# ---- measurement ------------------------------------------------------------------------------

def seconds_for(it, count):
    start = time.perf_counter()
    for _ in range(count):
        next(it)
    return time.perf_counter() - start


def largest_difference(a, b):
    return max(float((a[key].double() - b[key].double()).abs().max()) for key in ("sources", "mixture"))


def rss_mib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024.0
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0


def main():
    torch.set_num_threads(1)
    options = dict(speaker_count_probs={SPEAKERS: 1.0}, seed=0, segment_seconds=SEGMENT_S, apply_rir_prob=1.0,
                   apply_noise_prob=1.0)
    with tempfile.TemporaryDirectory() as root:
        speakers, rir_map, noises = make_bench_corpus(root)
        ours = bk.IterableSeparationDataset(speakers_map=speakers, rir_map=rir_map, noise_files=noises, **options)
        ours.batch_size = BATCH
        reference = NumpyStream(speakers, rir_map, noises, batch_size=BATCH, **options)

        # The two renderings draw the same speakers, files, rooms and noise,
        # and make the same signals.
        fast_it, base_it = iter(ours), iter(reference)
        same_draws, worst = True, 0.0
        for _ in range(CHECKED_BATCHES):
            a, b = next(fast_it), next(base_it)
            same_draws = same_draws and a["paths"] == b["paths"] and a["source_ids"] == b["source_ids"]
            worst = max(worst, largest_difference(a, b))
        print(f"same draws as the NumPy rendering over {CHECKED_BATCHES} batches: {same_draws}; "
              f"largest sample difference {worst:.2e} (tolerance {TOLERANCE:.0e})")
        if not same_draws or worst > TOLERANCE:
            return 1

        base_s = fast_s = 0.0
        for _ in range(ROUNDS):
            base_s += seconds_for(base_it, BASELINE_BATCHES)
            fast_s += seconds_for(fast_it, TIMED_BATCHES)
        base = ROUNDS * BASELINE_BATCHES / base_s
        fast = ROUNDS * TIMED_BATCHES / fast_s
        ratio = fast / base
        load = os.getloadavg()[0]
        print(f"batch {BATCH}, {SPEAKERS} speakers, {SEGMENT_S:.0f} s, reverberation and noise, one worker, "
              f"WAV and FLAC, half at 8 kHz (load average {load:.1f} on {os.cpu_count()} CPUs):")
        print(f"  NumPy/random: {base:8.2f} batches/s")
        print(f"  blendkit:     {fast:8.2f} batches/s   ratio {ratio:5.2f}x (target {TARGET:.0f}x)")

        it = iter(ours)
        for _ in range(50):
            next(it)
        start_rss = rss_mib()
        for _ in range(MEMORY_BATCHES):
            next(it)
        end_rss = rss_mib()
        print(f"memory over {MEMORY_BATCHES} batches: RSS {start_rss:.1f} MiB -> {end_rss:.1f} MiB "
              f"({end_rss - start_rss:+.1f} MiB)")
    return 0 if ratio >= TARGET else 1


if __name__ == "__main__":
    sys.exit(main())
