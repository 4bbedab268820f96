"""Speed of the corpus indexers against the same walks written in plain
Python, on a generated corpus of 50,000 audio files (and 2,000 text files)
in a temporary folder, one run each (the page cache is warmed by a first
pass that is not timed). The results are compared before the ratios are
printed.

Layout: 4 subsets x 250 speakers, each speaker with 2 chapter folders of 24
audio files and 2 audio files of its own (the training corpora's
root/subset/speaker[/chapter]/file), plus a text file per chapter.
"""
import os
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

import utility.blendkit as bk  # noqa: E402

SUBSETS = 4
SPEAKERS = 250
CHAPTERS = 2
PER_CHAPTER = 24
PER_SPEAKER = 2
EXTS = (".wav", ".flac", ".sph", ".mp3")


def make_corpus(root):
    count = 0
    for s in range(SUBSETS):
        for k in range(SPEAKERS):
            speaker = os.path.join(root, f"subset{s}", f"{k + 1000 * s}")
            for c in range(CHAPTERS):
                chapter = os.path.join(speaker, f"ch{c}")
                os.makedirs(chapter)
                for i in range(PER_CHAPTER):
                    open(os.path.join(chapter, f"{k}-{c}-{i:04d}.flac"), "wb").close()
                open(os.path.join(chapter, "trans.txt"), "wb").close()
                count += PER_CHAPTER + 1
            for i in range(PER_SPEAKER):
                open(os.path.join(speaker, f"own{i}.WAV"), "wb").close()
                count += 1
    return count


def accepted(name, exts_lower):
    return os.path.splitext(name)[1].lower() in exts_lower


def python_speaker_index(root, exts=EXTS):
    result = {}
    if not os.path.isdir(root):
        return result
    exts_lower = [e.lower() for e in exts]
    for subset in sorted(os.listdir(root)):
        subset_path = os.path.join(root, subset)
        if not os.path.isdir(subset_path):
            continue
        for speaker in sorted(os.listdir(subset_path)):
            speaker_path = os.path.join(subset_path, speaker)
            if not os.path.isdir(speaker_path):
                continue
            files = []
            for child in sorted(os.listdir(speaker_path)):
                child_path = os.path.join(speaker_path, child)
                if os.path.isdir(child_path):
                    for name in sorted(os.listdir(child_path)):
                        path = os.path.join(child_path, name)
                        if os.path.isfile(path) and accepted(name, exts_lower):
                            files.append(os.path.abspath(path))
                elif os.path.isfile(child_path) and accepted(child, exts_lower):
                    files.append(os.path.abspath(child_path))
            if not files:
                continue
            files = sorted(dict.fromkeys(files))
            if speaker in result:
                files = sorted(dict.fromkeys(result[speaker] + files))
            result[speaker] = files
    return result


def python_combine(mappings):
    result = {}
    for label, speakers in mappings.items():
        for speaker, files in speakers.items():
            files = sorted(dict.fromkeys(os.path.abspath(f) for f in files))
            key = f"{label}_{speaker}"
            result[key] = sorted(dict.fromkeys(result[key] + files)) if key in result else files
    return result


def python_rir_hierarchy(patterns, exts=EXTS):
    exts_lower = [e.lower() for e in exts]
    files = []
    for p in patterns:
        for dirpath, _, names in os.walk(p):
            for name in sorted(names):
                if accepted(name, exts_lower):
                    files.append(os.path.abspath(os.path.join(dirpath, name)))
    rir_map = {}
    for f in sorted(dict.fromkeys(files)):
        parent = os.path.dirname(f)
        room_type = os.path.basename(os.path.dirname(parent)) or "unknown_type"
        rir_map.setdefault(room_type, {}).setdefault(os.path.basename(parent) or "unknown_room", []).append(f)
    return rir_map


def timed(fn):
    start = time.perf_counter()
    result = fn()
    return time.perf_counter() - start, result


def main():
    with tempfile.TemporaryDirectory() as top:
        root = os.path.join(top, "corpus")
        files = make_corpus(root)
        python_speaker_index(root)  # warms the page cache for both
        cases = [
            ("find_audio_files_by_speaker", lambda: python_speaker_index(root),
             lambda: bk.find_audio_files_by_speaker(root)),
            ("index + combine (two roots)",
             lambda: python_combine({"libri": python_speaker_index(root), "wsj0": python_speaker_index(root)}),
             lambda: bk.combine_speaker_mappings({"libri": bk.find_audio_files_by_speaker(root),
                                                  "wsj0": bk.find_audio_files_by_speaker(root)})),
            ("collect_rir_hierarchy (walk)", lambda: python_rir_hierarchy([root]),
             lambda: bk.collect_rir_hierarchy([root])),
        ]
        print(f"corpus: {files} files, {SUBSETS * SPEAKERS} speakers")
        print(f"{'case':32} {'python s':>9} {'ours s':>8} {'ratio':>7}")
        for name, python_fn, ours_fn in cases:
            t_python, expected = timed(python_fn)
            t_ours, got = timed(ours_fn)
            if got != expected or list(got) != list(expected):
                raise SystemExit(f"{name}: results differ from the plain Python walk")
            print(f"{name:32} {t_python:9.3f} {t_ours:8.3f} {t_python / t_ours:6.1f}x")


if __name__ == "__main__":
    main()
