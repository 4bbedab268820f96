"""Cost of CSSProcessor itself on a 10-minute recording.

Both implementations below run the same recording through the same stand-in
network and the same SpeakerTracker (stand-in embedding model). The time
spent inside the network call and inside extract_embedding_from_array is
measured and taken out, so what remains is the processor's own work per
window: windowing, scaling, SI-SDR selection and ratings, the embedding
checks, merging, the tracker's matching, the records and the stitching.

The baseline is a plain NumPy/PyTorch rendering of the same algorithm,
written here. The leadvoice processor should be at least 3x cheaper.

Memory: separate processes run the leadvoice processor on recordings of
2 and 10 minutes and report the peak memory beyond what the results
themselves hold (the records' signals and the streams, which grow with the
recording); it should stay flat.

Run: PYTHONPATH=. /usr/bin/python3 bench/bench_css.py
"""
import contextlib
import json
import math
import os
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
for path in (ROOT, os.path.join(ROOT, "stand_ins")):
    if path not in sys.path:
        sys.path.append(path)

import numpy as np  # noqa: E402
import torch  # noqa: E402

import leadvoice  # noqa: E402
from utility.unmixer_core import TFLocoformerSEP  # noqa: E402

SR = 16000
TARGET_RATIO = 3.0
ROUNDS = 2
SETTINGS = dict(max_speakers=4, seg_duration=2.4, hop_duration=1.2, sample_rate=SR, sisdr_threshold=20.0,
                sisdr_threshold_prev=-10.0, merge_threshold=0.5, device="cpu", segments_save_dir=None)


# ---------------------------------------------------------------- recording

def talker(n, f0, harmonics, turns, seed, block):
    rng = np.random.default_rng(seed)
    t = np.arange(n) / SR
    f = f0 * (1 + 0.03 * np.sin(2 * np.pi * 0.7 * t + rng.uniform(0, 6)))
    phase = 2 * np.pi * np.cumsum(f) / SR
    voice = np.zeros(n)
    for i, k in enumerate(harmonics):
        voice += np.sin(k * phase + rng.uniform(0, 6)) / (1 + 0.3 * i)
    voice *= 0.6 + 0.4 * np.sin(2 * np.pi * 3.5 * t + rng.uniform(0, 6))
    local = t % block
    env = np.zeros(n)
    for a, b in turns:
        rise = np.clip((local - a) / 0.05, 0, 1)
        fall = np.clip((b - local) / 0.05, 0, 1)
        inside = (local >= a) & (local < b)
        env[inside] = (0.5 - 0.5 * np.cos(np.pi * np.minimum(rise, fall)))[inside]
    voice *= env
    return 0.1 * voice / np.sqrt(np.mean(voice[voice != 0] ** 2))


def recording(minutes):
    n = int(minutes * 60 * SR)
    low = talker(n, 140, range(1, 7), [(0.0, 4.0), (6.0, 10.0)], 1, 10.0)
    high = talker(n, 260, range(12, 19), [(3.0, 7.5)], 2, 10.0)
    return low + high


# ---------------------------------------------------------------- timed collaborators

class TimedNetwork:
    def __init__(self, network):
        self.network = network
        self.seconds = 0.0

    def __call__(self, mixture, max_speakers):
        start = time.perf_counter()
        result = self.network(mixture, max_speakers)
        self.seconds += time.perf_counter() - start
        return result


class TimedTracker(leadvoice.SpeakerTracker):
    def extract_embedding_from_array(self, audio):
        start = time.perf_counter()
        result = super().extract_embedding_from_array(audio)
        self.embedding_seconds += time.perf_counter() - start
        return result


# ---------------------------------------------------------------- baseline

def py_calculate_scale(estimation, origin, eps=1e-8):
    estimation = estimation - torch.mean(estimation, dim=2, keepdim=True)
    origin = origin - torch.mean(origin, dim=2, keepdim=True)
    pair_dot = torch.sum(estimation * origin, dim=2, keepdim=True)
    estimation_energy = torch.sum(estimation ** 2, dim=2, keepdim=True)
    return pair_dot / (estimation_energy + eps)


def py_calculate_sisdr(estimation, reference, eps=1e-8):
    estimation = estimation - torch.mean(estimation)
    reference = reference - torch.mean(reference)
    dot = torch.sum(estimation * reference)
    s_ref_energy = torch.sum(reference ** 2) + eps
    proj = dot * reference / s_ref_energy
    noise = estimation - proj
    return (10 * torch.log10(torch.sum(proj ** 2) / (torch.sum(noise ** 2) + eps) + eps)).item()


class ReferenceProcessor:
    """The processor as plain NumPy/PyTorch code."""

    def __init__(self, separation_model, speaker_tracker, max_speakers=4, seg_duration=2.4, hop_duration=1.2,
                 sample_rate=16000, sisdr_threshold=10.0, sisdr_threshold_prev=-10.0, merge_threshold=0.7,
                 device="cpu", segments_save_dir=None, padding_samples=0.6):
        self.separation_model = separation_model
        self.speaker_tracker = speaker_tracker
        self.max_speakers = max_speakers
        self.sample_rate = sample_rate
        self.sisdr_threshold = sisdr_threshold
        self.sisdr_threshold_prev = sisdr_threshold_prev
        self.merge_threshold = merge_threshold
        self.device = device
        self.padding_samples = int(padding_samples * sample_rate)
        self.seg_samples = int(seg_duration * sample_rate)
        self.hop_samples = int(hop_duration * sample_rate)

    def process(self, mix):
        total_samples = len(mix)
        num_segments = int(math.ceil((total_samples - self.seg_samples) / self.hop_samples)) + 1
        segment_results = []
        self.speaker_tracker.reset()
        first = True
        print(f"总计 {num_segments} 个片段需要处理")
        with torch.no_grad():
            for seg_idx in range(num_segments):
                start = seg_idx * self.hop_samples
                end = min(start + self.seg_samples, total_samples)
                mix_seg = mix[start:end]
                actual_len = len(mix_seg)
                print(f"\n片段 {seg_idx + 1}/{num_segments}: 位置 [{start / self.sample_rate:.2f}s - "
                      f"{(start + actual_len) / self.sample_rate:.2f}s]")
                all_separated, quality = self._separate(mix_seg, actual_len)
                if self._assign(seg_idx, start, actual_len, all_separated, quality, first, segment_results):
                    first = False
        return self._stitch(segment_results, total_samples), segment_results

    def _separate(self, mix_seg, actual_len):
        if actual_len < self.seg_samples:
            mix_seg = np.pad(mix_seg, (0, self.seg_samples - actual_len), mode="constant")
        pad = np.zeros(self.padding_samples, dtype=mix_seg.dtype)
        padded = np.concatenate([pad, mix_seg, pad])
        x = torch.from_numpy(padded).float().unsqueeze(0).unsqueeze(0).to(self.device)
        _, separated = self.separation_model(x.squeeze(1), self.max_speakers)
        separated = separated[:, :, self.padding_samples:self.padding_samples + self.seg_samples]
        mix_tensor = torch.from_numpy(mix_seg).float().unsqueeze(0).unsqueeze(0).to(self.device)
        separated = py_calculate_scale(separated, mix_tensor) * separated
        kept = []
        for k in range(self.max_speakers):
            sig = separated[0, k, :].cpu().numpy()
            if k == 0:
                kept.append(sig)
                continue
            sisdr = py_calculate_sisdr(separated[0, k, :], mix_tensor[0, 0, :])
            best_prev = -math.inf
            for p in range(k):
                value = py_calculate_sisdr(separated[0, k, :], separated[0, p, :])
                if value > best_prev:
                    best_prev = value
            if sisdr < self.sisdr_threshold and best_prev < self.sisdr_threshold_prev:
                kept.append(sig)
            else:
                break
        quality = []
        for i, a in enumerate(kept):
            if len(kept) == 1:
                quality.append(-math.inf)
                continue
            best = -math.inf
            ta = torch.from_numpy(a).float()
            for j, b in enumerate(kept):
                if j != i:
                    value = py_calculate_sisdr(ta, torch.from_numpy(b).float())
                    if value > best:
                        best = value
            quality.append(best)
        return kept, quality

    def _assign(self, seg_idx, start, actual_len, all_separated, quality, first, segment_results):
        tracker = self.speaker_tracker
        signals, embeddings, qualities, speech = [], [], [], []
        for k, sig in enumerate(all_separated):
            emb, count = tracker.extract_embedding_from_array(sig)
            if emb is None:
                continue
            if np.any(np.isnan(emb)) or np.any(np.isinf(emb)):
                print(f"    [警告] 信号{k}的embedding包含nan/inf，跳过")
                continue
            signals.append(sig)
            embeddings.append(emb)
            qualities.append(quality[k])
            speech.append(count)
        if not signals:
            print("    [跳过] 所有信号的embedding都无效，跳过该片段")
            return False
        if len(signals) > 1:
            self._merge(signals, embeddings, qualities, speech)
        if first:
            ids = tracker.initialize_first_segment(embeddings)
            matrix = None
            print(f"    [初始化] 创建全局说话人ID: {ids}")
        else:
            ids, matrix = tracker.match_speakers_between_segments(embeddings, qualities, speech)
        print(f"    全局说话人ID: {ids}")
        segment_results.append({"seg_idx": seg_idx, "start_sample": start, "end_sample": start + actual_len,
                                "separated_signals": signals, "global_ids": ids, "embeddings": embeddings,
                                "similarity_matrix": matrix})
        return True

    def _merge(self, signals, embeddings, qualities, speech):
        cos = leadvoice.cosine_similarity
        n = len(signals)
        print(f"    [信号合并检查] 开始检查{n}个信号的embedding相似度（阈值={self.merge_threshold}）")
        print("    [信号合并检查] 信号间embedding相似度矩阵:")
        for i in range(n):
            cells = ["  -  " if i == j else f"{cos(embeddings[i], embeddings[j]):.3f}" for j in range(n)]
            print(f"           信号{i}: [{', '.join(cells)}]")
        count = 0
        while len(signals) > 1:
            best, bi, bj = -1, -1, -1
            for i in range(len(signals)):
                for j in range(i + 1, len(signals)):
                    sim = cos(embeddings[i], embeddings[j])
                    if sim > best:
                        best, bi, bj = sim, i, j
            if bi >= 0 and best >= self.merge_threshold:
                count += 1
                print(f"    [信号合并 #{count}] 信号{bi}和信号{bj}的embedding相似度={best:.3f} >= "
                      f"{self.merge_threshold}，进行合并")
                merged = signals[bi] + signals[bj]
                emb, _ = self.speaker_tracker.extract_embedding_from_array(merged)
                if emb is None:
                    print(f"    [信号合并 #{count}] 合并后embedding提取失败，跳过此次合并")
                    break
                signals[bi], embeddings[bi] = merged, emb
                qualities[bi] = max(qualities[bi], qualities[bj])
                speech[bi] = max(speech[bi], speech[bj])
                for lst in (signals, embeddings, qualities, speech):
                    lst.pop(bj)
                print(f"    [信号合并 #{count}] 合并成功，当前剩余{len(signals)}个有效信号")
            else:
                print(f"    [信号合并检查] 最大相似度={best:.3f} < 阈值{self.merge_threshold}，无需合并")
                break
        if count:
            print(f"    [信号合并完成] 共进行{count}次合并，最终{len(signals)}个有效信号")

    def _stitch(self, segment_results, total_samples):
        ids = sorted({g for r in segment_results for g in r["global_ids"] if g >= 0})
        streams = {g: np.zeros(total_samples, dtype=np.float32) for g in ids}
        weights = {g: np.zeros(total_samples, dtype=np.float32) for g in ids}
        overlap = self.seg_samples - self.hop_samples
        if not segment_results:
            return streams
        last = segment_results[-1]["seg_idx"]
        for r in segment_results:
            start, end = r["start_sample"], r["end_sample"]
            length = end - start
            window = np.ones(length)
            if overlap > 0:
                if r["seg_idx"] != 0:
                    window[:overlap] = np.linspace(0, 1, overlap)
                if r["seg_idx"] != last:
                    window[-overlap:] = np.linspace(1, 0, overlap)
            for k, g in enumerate(r["global_ids"]):
                if g < 0:
                    continue
                streams[g][start:end] += r["separated_signals"][k][:length] * window
                weights[g][start:end] += window
        for g in ids:
            mask = weights[g] > 0
            streams[g][mask] /= weights[g][mask]
        return streams


# ---------------------------------------------------------------- measurement

def own_cost(factory, mix, network):
    timed_network = TimedNetwork(network)
    with contextlib.redirect_stdout(open(os.devnull, "w", encoding="utf-8")):
        tracker = TimedTracker(similarity_threshold=0.24, low_similarity_threshold=0.22)
        tracker.embedding_seconds = 0.0
        processor = factory(timed_network, tracker)
        start = time.perf_counter()
        streams, records = processor.process(mix)
        total = time.perf_counter() - start
    windows = int(math.ceil((len(mix) - processor.seg_samples) / processor.hop_samples)) + 1
    own = total - timed_network.seconds - tracker.embedding_seconds
    return dict(total=total, network=timed_network.seconds, embedding=tracker.embedding_seconds, own=own,
                per_window=own / windows, windows=windows, streams=streams, records=records)


def status_kb(key):
    # VmHWM belongs to this process image; ru_maxrss would carry over the
    # parent's high-water mark through fork and exec.
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    raise RuntimeError(key + " not in /proc/self/status")


def memory_child(path):
    mix = np.load(path)
    network = TFLocoformerSEP().eval()
    with contextlib.redirect_stdout(open(os.devnull, "w", encoding="utf-8")):
        tracker = leadvoice.SpeakerTracker(similarity_threshold=0.24, low_similarity_threshold=0.22)
        warm = leadvoice.CSSProcessor(network, tracker, **SETTINGS)
        warm.process(mix[:5 * SR].copy())
        del warm
        before = status_kb("VmRSS")
        streams, records = leadvoice.CSSProcessor(network, tracker, **SETTINGS).process(mix)
        peak = status_kb("VmHWM")
    held = sum(s.nbytes for r in records for s in r["separated_signals"])
    stream_bytes = sum(s.nbytes for s in streams.values())
    print(json.dumps(dict(seconds=len(mix) / SR, peak_growth_mb=(peak - before) / 1024,
                          records_mb=held / 2 ** 20, streams_mb=stream_bytes / 2 ** 20,
                          working_mb=((peak - before) * 1024 - held - stream_bytes) / 2 ** 20)))


def memory_report(tmp):
    rows = []
    for minutes in (2, 10):
        path = os.path.join(tmp, "mix_%d.npy" % minutes)
        np.save(path, recording(minutes))
        env = dict(os.environ, PYTHONPATH=ROOT)
        out = subprocess.run([sys.executable, os.path.abspath(__file__), "--memory-child", path], env=env,
                             capture_output=True, text=True, check=True).stdout
        rows.append(json.loads(out.strip().splitlines()[-1]))
    return rows


def main():
    torch.set_num_threads(1)
    mix = recording(10)
    network = TFLocoformerSEP().eval()
    best = {}
    for _ in range(ROUNDS):
        cpp = own_cost(lambda n, t: leadvoice.CSSProcessor(n, t, **SETTINGS), mix, network)
        ref = own_cost(lambda n, t: ReferenceProcessor(n, t, **SETTINGS), mix, network)
        assert list(cpp["streams"]) == list(ref["streams"]), "the two implementations disagree on the speakers"
        for sid in cpp["streams"]:
            np.testing.assert_allclose(cpp["streams"][sid], ref["streams"][sid], atol=1e-4)
        assert [r["global_ids"] for r in cpp["records"]] == [r["global_ids"] for r in ref["records"]]
        for name, run in (("cpp", cpp), ("ref", ref)):
            for key in ("streams", "records"):
                run.pop(key)
            if name not in best or run["per_window"] < best[name]["per_window"]:
                best[name] = run
        del cpp, ref
    cpp, ref = best["cpp"], best["ref"]

    print("CSSProcessor own cost on a 10-minute recording (%d windows), torch threads: 1, best of %d rounds;"
          % (cpp["windows"], ROUNDS))
    print("  own = everything but the network call and extract_embedding_from_array (the tracker's matching,")
    print("  the same code for both, is included)")
    for name, r in (("leadvoice", cpp), ("numpy/torch baseline", ref)):
        print("  %-22s total %7.2f s = network %6.2f s + embedding %6.2f s + own %6.2f s (%.3f ms/window)"
              % (name, r["total"], r["network"], r["embedding"], r["own"], 1e3 * r["per_window"]))
    ratio = ref["per_window"] / cpp["per_window"]
    print("  ratio baseline / leadvoice: %.2fx (target >= %.1fx) %s"
          % (ratio, TARGET_RATIO, "OK" if ratio >= TARGET_RATIO else "BELOW TARGET"))

    with tempfile.TemporaryDirectory() as tmp:
        rows = memory_report(tmp)
    print("Peak memory of CSSProcessor.process beyond its results (records and streams):")
    for row in rows:
        print("  %5.0f s: peak growth %7.1f MB, records %7.1f MB, streams %6.1f MB -> working %6.1f MB"
              % (row["seconds"], row["peak_growth_mb"], row["records_mb"], row["streams_mb"], row["working_mb"]))
    growth = rows[-1]["working_mb"] - rows[0]["working_mb"]
    held_growth = sum(rows[-1][k] - rows[0][k] for k in ("records_mb", "streams_mb"))
    print("  working memory change from 2 to 10 minutes: %+.1f MB against %+.1f MB of results %s"
          % (growth, held_growth, "(flat)" if abs(growth) < 0.1 * held_growth else "(NOT FLAT)"))


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--memory-child":
        memory_child(sys.argv[2])
    else:
        main()
