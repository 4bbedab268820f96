import os

import pytest

import utility.blendkit as bk
from corpus_tree import build

CORPUS_FILES = [
    "corpus/root.wav",
    "corpus/.hidden/spk/h.wav",
    "corpus/Zset/9/a.wav",
    "corpus/Zset/10/b.wav",
    "corpus/dev/1089/g.wav",
    "corpus/dev/stray.wav",
    "corpus/dev/only_other/readme.txt",
    "corpus/dev/later/x.txt",
    "corpus/train/1089/a.wav",
    "corpus/train/1089/B.WAV",
    "corpus/train/1089/C.Flac",
    "corpus/train/1089/x.tar.wav",
    "corpus/train/1089/.hidden.wav",
    "corpus/train/1089/.wav",
    "corpus/train/1089/..wav",
    "corpus/train/1089/y.wav.bak",
    "corpus/train/1089/z.",
    "corpus/train/1089/notes.txt",
    "corpus/train/1089/€.wav",
    b"corpus/train/1089/\x80x.wav",
    "corpus/train/1089/sub/c.sph",
    "corpus/train/1089/sub/.e.mp3",
    "corpus/train/1089/sub/deeper/d.wav",
    "corpus/train/later/l.wav",
    b"corpus/train/spk\xff/k.wav",
    "outside/real.wav",
    "outside/dir/m.wav",
    "outside/spkdir/s.wav",
]
CORPUS_FOLDERS = ["corpus/dev/empty", "corpus/dev/only_other/sub", "corpus/train/1089/sub/empty"]
CORPUS_LINKS = [
    ("corpus/train/1089/file_link.wav", "../../../outside/real.wav"),
    ("corpus/train/1089/dir_link", "../../../outside/dir"),
    ("corpus/train/1089/dangling.wav", "../../../outside/missing.wav"),
    ("corpus/train/link_spk", "../../outside/spkdir"),
]


def expected_index(top):
    c = top + "/corpus"
    return {
        "spk": [f"{c}/.hidden/spk/h.wav"],
        "10": [f"{c}/Zset/10/b.wav"],
        "9": [f"{c}/Zset/9/a.wav"],
        "1089": [
            f"{c}/dev/1089/g.wav",
            f"{c}/train/1089/.hidden.wav",
            f"{c}/train/1089/B.WAV",
            f"{c}/train/1089/C.Flac",
            f"{c}/train/1089/a.wav",
            f"{c}/train/1089/dir_link/m.wav",
            f"{c}/train/1089/file_link.wav",
            f"{c}/train/1089/sub/.e.mp3",
            f"{c}/train/1089/sub/c.sph",
            f"{c}/train/1089/x.tar.wav",
            f"{c}/train/1089/€.wav",
            f"{c}/train/1089/\udc80x.wav",
        ],
        "later": [f"{c}/train/later/l.wav"],
        "link_spk": [f"{c}/train/link_spk/s.wav"],
        "spk\udcff": [f"{c}/train/spk\udcff/k.wav"],
    }


@pytest.fixture
def corpus_root(tmp_path):
    # The corpus lives in a folder of its own, beside the link targets.
    return build(tmp_path, CORPUS_FILES, CORPUS_FOLDERS, CORPUS_LINKS)


def test_index_of_a_tree_with_links_hidden_and_odd_names(corpus_root):
    index = bk.find_audio_files_by_speaker(corpus_root + "/corpus")
    expected = expected_index(corpus_root)
    assert list(index) == list(expected)
    assert index == expected


@pytest.mark.parametrize("spelling", ["corpus", "./corpus/", "corpus//", "outside/../corpus"])
def test_relative_and_unnormalised_roots_give_the_same_absolute_paths(corpus_root, monkeypatch, spelling):
    monkeypatch.chdir(corpus_root)
    assert bk.find_audio_files_by_speaker(spelling) == expected_index(corpus_root)


@pytest.mark.parametrize("root", ["missing", "outside/real.wav", "", "bad\0name"])
def test_a_root_that_is_no_folder_gives_an_empty_map_without_reading_exts(corpus_root, monkeypatch, root):
    monkeypatch.chdir(corpus_root)
    assert bk.find_audio_files_by_speaker(root, exts=5) == {}


def test_extensions_are_compared_without_letter_case_on_both_sides(tmp_path):
    build(tmp_path, ["s/a/x.TXT", "s/a/y.txt", "s/a/z.wav", "s/b/w.Txt"])
    index = bk.find_audio_files_by_speaker(str(tmp_path), [".tXt"])
    assert index == {"a": [f"{tmp_path}/s/a/x.TXT", f"{tmp_path}/s/a/y.txt"], "b": [f"{tmp_path}/s/b/w.Txt"]}


def test_later_subset_creates_the_entry_when_the_earlier_folder_had_no_audio(tmp_path):
    build(tmp_path, ["a/x/1.wav", "a/spk/readme.txt", "b/spk/2.wav", "b/x/0.wav"])
    index = bk.find_audio_files_by_speaker(str(tmp_path))
    assert list(index.items()) == [
        ("x", [f"{tmp_path}/a/x/1.wav", f"{tmp_path}/b/x/0.wav"]),
        ("spk", [f"{tmp_path}/b/spk/2.wav"]),
    ]


def test_each_call_returns_fresh_lists(tmp_path):
    build(tmp_path, ["s/a/x.wav"])
    first = bk.find_audio_files_by_speaker(str(tmp_path))
    first["a"].append("changed")
    assert bk.find_audio_files_by_speaker(str(tmp_path)) == {"a": [f"{tmp_path}/s/a/x.wav"]}


def test_non_ascii_extensions_follow_the_interpreters_case_rules(tmp_path):
    # U+212A KELVIN SIGN lower-cases to an ASCII "k".
    build(tmp_path, ["s/a/x.\u212a", "s/a/y.k", "s/a/z.\u00c9"])
    index = bk.find_audio_files_by_speaker(str(tmp_path), (".k", ".é"))
    assert index == {"a": [f"{tmp_path}/s/a/x.\u212a", f"{tmp_path}/s/a/y.k", f"{tmp_path}/s/a/z.\u00c9"]}


@pytest.mark.skipif(os.geteuid() == 0, reason="permissions do not bind the superuser")
def test_an_unreadable_speaker_folder_fails_the_call(tmp_path):
    build(tmp_path, ["s/a/x.wav"])
    os.chmod(tmp_path / "s" / "a", 0)
    try:
        with pytest.raises(PermissionError) as error:
            bk.find_audio_files_by_speaker(str(tmp_path))
        assert error.value.filename == f"{tmp_path}/s/a"
    finally:
        os.chmod(tmp_path / "s" / "a", 0o755)


def test_a_removed_working_directory_fails_as_the_interpreter_does(tmp_path, monkeypatch):
    gone = tmp_path / "gone"
    gone.mkdir()
    monkeypatch.chdir(gone)
    gone.rmdir()
    with pytest.raises(FileNotFoundError) as expected:
        os.path.abspath("rel/x.wav")
    with pytest.raises(FileNotFoundError) as error:
        bk.combine_speaker_mappings({"libri": {"a": ["rel/x.wav"]}})
    assert (error.value.errno, error.value.filename, str(error.value)) == (
        expected.value.errno, expected.value.filename, str(expected.value))


@pytest.mark.parametrize("strategy", ["Prefix", "", None, 1, "merge "])
@pytest.mark.parametrize("mappings", [{}, None, {"libri": {"a": ["x"]}}])
def test_unknown_strategy_is_refused_before_the_mappings_are_read(mappings, strategy):
    with pytest.raises(ValueError, match="^strategy must be one of 'prefix','merge'$"):
        bk.combine_speaker_mappings(mappings, strategy)


def test_prefix_and_merge_of_two_corpora(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    libri = {"1089": ["/c/b.wav", "/c/a.wav", "/c/b.wav"], 7: ["rel/x.wav"], "empty": []}
    wsj0 = {"1089": ["/w/./z.wav", "/c/a.wav"], "22": ["//net/q.wav"]}
    mappings = {"libri": libri, "wsj0": wsj0}
    prefixed = bk.combine_speaker_mappings(mappings)
    assert list(prefixed.items()) == [
        ("libri_1089", ["/c/a.wav", "/c/b.wav"]),
        ("libri_7", [f"{tmp_path}/rel/x.wav"]),
        ("libri_empty", []),
        ("wsj0_1089", ["/c/a.wav", "/w/z.wav"]),
        ("wsj0_22", ["//net/q.wav"]),
    ]
    merged = bk.combine_speaker_mappings(mappings=mappings, strategy="merge")
    assert list(merged.items()) == [
        ("1089", ["/c/a.wav", "/c/b.wav", "/w/z.wav"]),
        (7, [f"{tmp_path}/rel/x.wav"]),
        ("empty", []),
        ("22", ["//net/q.wav"]),
    ]
    # The inputs are untouched and no list is shared with them.
    assert libri["1089"] == ["/c/b.wav", "/c/a.wav", "/c/b.wav"]
    assert all(out is not given for out in merged.values() for m in mappings.values() for given in m.values())


def test_joined_keys_that_coincide_share_one_entry():
    combined = bk.combine_speaker_mappings({"a_b": {"c": ["/2.wav"]}, "a": {"b_c": ["/1.wav", "/2.wav"]}})
    assert combined == {"a_b_c": ["/1.wav", "/2.wav"]}


def test_combined_paths_sort_by_code_point_including_undecodable_bytes():
    combined = bk.combine_speaker_mappings({"x": {"s": ["/d/\udc80.wav", "/d/€.wav", "/d/Z.wav", "/d/a/../b.wav"]}})
    assert combined == {"x_s": ["/d/Z.wav", "/d/b.wav", "/d/€.wav", "/d/\udc80.wav"]}


@pytest.mark.parametrize("mappings, error", [
    ({"x": ["not", "a", "map"]}, AttributeError),
    ({"x": {"s": 5}}, TypeError),
    ({"x": {"s": [b"/bytes.wav"]}}, TypeError),
])
def test_unusable_inputs_fail_with_the_error_of_the_access(mappings, error):
    with pytest.raises(error):
        bk.combine_speaker_mappings(mappings)
