"""ITN throughput: the engine's lines per second with itn_runner's 8 workers
against 1 worker on the same input, the engine's cost per line, and
itn_runner's own end-to-end rate. Drives the built programs; run after a
build (make bench)."""
import os
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("BUILD", os.path.join(ROOT, "build"))
RULES_DIR = os.path.join(BUILD, "itn_rules")
RULES = [os.path.join(RULES_DIR, name) for name in (
    "tagger_rule1.fst", "verbalizer_rule1.fst", "tagger_rule2.fst", "verbalizer_rule2.fst")]
RUNNER = os.path.join(BUILD, "itn_runner", "itn_runner")
BENCH = os.path.join(BUILD, "itn_runner", "itn_bench")

LINES = 20000
REPEATS = 3
TARGET_SPEEDUP = 5.0

PIECES = [
    "一百二十三", "两万三千四百五十六", "三点一四", "负五", "百分之十五", "五千克",
    "三点五公里", "气温负五摄氏度", "二零二四年三月五日", "这件衣服三百五十块钱",
    "我的电话是一三八零零一三八零零零", "今天天气很好", "这件事十分重要",
    "我用iPhone十五拍了二十张照片", "一亿零五百万", "跑了10公里", "我有三个苹果",
    "会议在下午举行，大家请准时参加",
]


def make_input(path):
    n = len(PIECES)
    with open(path, "w", encoding="utf-8") as f:
        for i in range(LINES):
            f.write(PIECES[i % n] + "，" + PIECES[(7 * i + 3) % n] + "\n")


def engine_seconds(input_path, workers):
    """Best of REPEATS runs of the engine calls alone."""
    best = None
    for _ in range(REPEATS):
        out = subprocess.run([BENCH, *RULES, input_path, str(workers), "0"],
                             check=True, capture_output=True, text=True).stdout
        fields = dict(item.split("=") for item in out.split())
        assert int(fields["lines"]) == LINES, out
        seconds = float(fields["seconds"])
        best = seconds if best is None else min(best, seconds)
    return best


def runner_seconds(input_path):
    best = None
    for _ in range(REPEATS):
        start = time.perf_counter()
        subprocess.run([RUNNER, *RULES, input_path, "1", "0"], check=True,
                       stdout=subprocess.DEVNULL)
        seconds = time.perf_counter() - start
        best = seconds if best is None else min(best, seconds)
    return best


def main():
    missing = [p for p in [RUNNER, BENCH, *RULES] if not os.path.exists(p)]
    if missing:
        print("not built: " + ", ".join(missing))
        return 1
    with tempfile.TemporaryDirectory() as tmp:
        input_path = os.path.join(tmp, "lines.txt")
        make_input(input_path)
        one = engine_seconds(input_path, 1)
        eight = engine_seconds(input_path, 8)
        runner = runner_seconds(input_path)
    speedup = one / eight
    print(f"itn engine, {LINES} lines, both rule sets, best of {REPEATS} (cpus: {os.cpu_count()})")
    print(f"  1 worker : {LINES / one:10.0f} lines/s")
    print(f"  8 workers: {LINES / eight:10.0f} lines/s")
    print(f"  speed-up 8 vs 1 workers: {speedup:.2f}x "
          f"(target >= {TARGET_SPEEDUP:.0f}x: {'met' if speedup >= TARGET_SPEEDUP else 'NOT met'})")
    print(f"  engine cost per line (1 worker): {one / LINES * 1e6:.1f} us")
    print(f"  itn_runner end to end (load, read, 8 workers, print): {LINES / runner:.0f} lines/s, "
          f"{runner:.3f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
