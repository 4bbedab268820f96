import os
import types

import pytest

import utility.blendkit as bk
from corpus_tree import build

RIR_FILES = [
    "rirs/small/r1/a.wav",
    "rirs/small/r10/b.WAV",
    "rirs/small/r2/c.wav",
    "rirs/small/r2/B.wav",
    "rirs/small/room/e.wav",
    "rirs/small/room-2/f.wav",
    b"rirs/small/r\xff/u.wav",
    "rirs/large/r1/d.wav",
    "rirs/large/r1/notes.txt",
    "rirs/large/r1/.wav",
    "rirs/large/r1/w.wav.bak",
    "rirs/.hidden/r/h.wav",
    "rirs/deep/x/y/z/g.flac",
    "rirs/top.wav",
    "other/t/r/p.wav",
    "other/t/r/q.txt",
    "other/.h/r/s.wav",
    "other2/large/r1/z.wav",
]
RIR_FOLDERS = ["rirs/empty", "other/t/empty"]
RIR_LINKS = [
    ("rirs/small/link_room", "../large/r1"),
    ("rirs/small/r1/dangling.wav", "missing.wav"),
    ("rirs/small/r1/link.wav", "../r2/c.wav"),
    ("rirs/small/r1/pipe_link.wav", "pipe.wav"),
    ("other/t/r/dangling2.wav", "missing.wav"),
]
# Named pipes with audio names, walked and matched: only regular files are
# collected, since opening a pipe to read it blocks for ever.
RIR_FIFOS = ["rirs/small/r1/pipe.wav", "other/t/r/pipe2.wav"]


@pytest.fixture
def tree(tmp_path):
    return build(tmp_path, RIR_FILES, RIR_FOLDERS, RIR_LINKS, RIR_FIFOS)


def rir_patterns(top, rirs):
    return [
        rirs,
        None,
        f"{top}/other/**/*.wav",
        f"{top}/other/.h/*/*.wav",
        f"{top}/rirs/small/r2/c.wav",
        "",
        f"{top}/other/*",
        f"{top}/other/t/r/dangling2.wav",
        f"{top}/other/t/r/pipe2.wav",
        f"{top}/other2/**",
    ]


def expected_rir_map(t):
    return {
        ".h": {"r": [f"{t}/other/.h/r/s.wav"]},
        "t": {"r": [f"{t}/other/t/r/p.wav"]},
        "large": {"r1": [f"{t}/other2/large/r1/z.wav", f"{t}/rirs/large/r1/d.wav"]},
        ".hidden": {"r": [f"{t}/rirs/.hidden/r/h.wav"]},
        "y": {"z": [f"{t}/rirs/deep/x/y/z/g.flac"]},
        "small": {
            # No broken link and no pipe, walked or matched, named directly
            # or through a link.
            "r1": [f"{t}/rirs/small/r1/a.wav", f"{t}/rirs/small/r1/link.wav"],
            "r10": [f"{t}/rirs/small/r10/b.WAV"],
            "r2": [f"{t}/rirs/small/r2/B.wav", f"{t}/rirs/small/r2/c.wav"],
            "room-2": [f"{t}/rirs/small/room-2/f.wav"],
            "room": [f"{t}/rirs/small/room/e.wav"],
            "r\udcff": [f"{t}/rirs/small/r\udcff/u.wav"],
        },
        os.path.basename(t): {"rirs": [f"{t}/rirs/top.wav"]},
    }


def key_order(rir_map):
    return [(room_type, list(rooms)) for room_type, rooms in rir_map.items()]


@pytest.mark.parametrize("spelling", ["{top}/rirs", "rirs", "./rirs/", "rirs/../rirs"])
def test_rir_map_from_a_walked_tree_and_patterns(tree, monkeypatch, spelling):
    monkeypatch.chdir(tree)
    rir_map = bk.collect_rir_hierarchy(rir_patterns(tree, spelling.format(top=tree)))
    expected = expected_rir_map(tree)
    assert key_order(rir_map) == key_order(expected)
    assert rir_map == expected


@pytest.mark.parametrize("patterns", [None, [], ()])
def test_no_patterns_give_an_empty_map_without_reading_exts(patterns):
    assert bk.collect_rir_hierarchy(patterns, exts=5) == {}


def test_none_entries_are_skipped_and_non_text_extensions_fail(tree):
    assert bk.collect_rir_hierarchy([None, f"{tree}/rirs/large"]) == {"large": {"r1": [f"{tree}/rirs/large/r1/d.wav"]}}
    with pytest.raises(AttributeError):
        bk.collect_rir_hierarchy([f"{tree}/rirs/large"], exts=[".wav", 3])


def test_custom_extensions_and_a_single_file_entry(tree):
    rir_map = bk.collect_rir_hierarchy(patterns=[f"{tree}/rirs/large", f"{tree}/other/t/r/q.txt"], exts=[".TXT"])
    assert rir_map == {"large": {"r1": [f"{tree}/rirs/large/r1/notes.txt"]}, "t": {"r": [f"{tree}/other/t/r/q.txt"]}}


@pytest.fixture
def noise(tmp_path, monkeypatch):
    build(tmp_path, ["noise/a.wav", "noise/b.txt", "noise/sub/c.wav", "noise/sub/d/e.wav", "noise/.hid.wav"],
          ["noise/dir.wav"], [("noise/link.wav", "a.wav"), ("noise/gone.wav", "missing.wav")],
          ["noise/pipe.wav", "noise/sub/pipe.wav"])
    monkeypatch.chdir(tmp_path)


def test_noise_files_are_regular_file_matches_as_spelled_unique_and_sorted(noise):
    files = bk.collect_files(["noise/*", "./noise/*.wav", "noise/*/*.wav", "noise/**", "noise/sub", "missing/*", "",
                              "noise/pipe.wav"])
    # Matched folders, broken links and pipes are left out: the stream reads
    # every noise file whole.
    assert files == [
        "./noise/a.wav",
        "./noise/link.wav",
        "noise/a.wav",
        "noise/b.txt",
        "noise/link.wav",
        "noise/sub/c.wav",
    ]


@pytest.mark.parametrize("patterns", [None, [], ""])
def test_no_noise_patterns_give_an_empty_list(patterns):
    assert bk.collect_files(patterns) == []


def test_a_none_noise_pattern_fails():
    with pytest.raises(TypeError):
        bk.collect_files(["*.wav", None])


def test_noise_matches_sort_by_code_point_through_the_package_glob(tmp_path, monkeypatch):
    matches = {"p1": ["\udc80.wav", "€.wav", "a.wav", "gone.wav"], "p2": ["Z.wav", "a.wav", "é.wav"]}
    build(tmp_path, [name for names in matches.values() for name in names if name != "gone.wav"])
    monkeypatch.chdir(tmp_path)
    monkeypatch.setattr(bk, "glob", types.SimpleNamespace(glob=lambda pattern: list(matches[pattern])))
    assert bk.collect_files(["p1", "p2"]) == ["Z.wav", "a.wav", "é.wav", "€.wav", "\udc80.wav"]


@pytest.mark.parametrize("function", ["collect_files", "collect_rir_hierarchy"])
def test_wrong_arguments_are_the_interpreters_argument_error(function):
    with pytest.raises(TypeError, match=function):
        getattr(bk, function)(["x"], patterns=["y"])
    with pytest.raises(TypeError, match=function):
        getattr(bk, function)()
