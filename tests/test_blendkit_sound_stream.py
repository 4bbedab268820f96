"""Seeded streams over a corpus without a single bad file give the batches
they have always given: what every sample drew, exactly, and the sums of its
signals (recorded in blendkit_sound_stream.json)."""
import json
import os

import pytest

from blendkit_stream_fakes import SOUND_STREAMS, batch_summary, make_sound_corpus, sound_stream

RECORD = os.path.join(os.path.dirname(os.path.abspath(__file__)), "blendkit_sound_stream.json")


@pytest.fixture(scope="module")
def sound(tmp_path_factory):
    root = str(tmp_path_factory.mktemp("sound"))
    return root, make_sound_corpus(root)


def assert_same_sums(got, expected):
    # The sum of squares is judged relatively; the signed sums, which may lie
    # near zero, against the size of the signal.
    total, squares, weighted = expected
    assert got[1] == pytest.approx(squares, rel=1e-5, abs=1e-9)
    assert got[0] == pytest.approx(total, abs=1e-3)
    assert got[2] == pytest.approx(weighted, abs=1.0)


@pytest.mark.parametrize("name", sorted(SOUND_STREAMS))
def test_sound_streams_keep_their_recorded_batches(sound, name):
    root, (speakers, rir_map, noises) = sound
    with open(RECORD) as f:
        expected = json.load(f)[name]
    got = [batch_summary(b, root) for b in sound_stream(speakers, rir_map, noises, name)]
    assert len(got) == len(expected)
    for g, e in zip(got, expected):
        for key in ("source_ids", "num_spk", "sources_len", "mixture_len", "paths"):
            assert g[key] == e[key], key
        for g_sample, e_sample in zip(g["sources"], e["sources"]):
            for g_sums, e_sums in zip(g_sample, e_sample):
                assert_same_sums(g_sums, e_sums)
        for g_sums, e_sums in zip(g["mixture"], e["mixture"]):
            assert_same_sums(g_sums, e_sums)
