"""What a user of the interpreter sees of every public function, class and
method of the extension modules: inspect.signature and help() give the real
parameters, their kinds and defaults, and an __init__ is named __init__."""
import importlib
import inspect
import pydoc
import types

import pytest

P = inspect.Parameter
REQUIRED = P.empty


def params(*declared):
    """(name, kind, default) per parameter: "name" is required, ("name",
    default) has a default; a "*" makes the ones after it keyword-only."""
    out, kind = [], P.POSITIONAL_OR_KEYWORD
    for item in declared:
        if item == "*":
            kind = P.KEYWORD_ONLY
            continue
        name, default = (item, REQUIRED) if isinstance(item, str) else item
        out.append((name, kind, default))
    return out


TRACKER = params(("wespeaker_model", "chinese"), ("similarity_threshold", 0.6), ("sample_rate", 16000),
                 ("device", "cpu"), ("embedding_update_strategy", "ema_with_history"), ("ema_alpha", 0.3),
                 ("max_embedding_history", 40), ("max_inter_sisdr_for_update", -10.0),
                 ("low_similarity_threshold", 0.22), ("short_speech_duration", 0.8),
                 ("short_speech_threshold_drop", 0.05))
PROCESSOR = params("separation_model", "speaker_tracker", ("max_speakers", 4), ("seg_duration", 2.4),
                   ("hop_duration", 1.2), ("sample_rate", 16000), ("sisdr_threshold", 10.0),
                   ("sisdr_threshold_prev", -10.0), ("merge_threshold", 0.7), ("device", "cpu"),
                   ("segments_save_dir", None), ("padding_samples", 0.6))
AUDIO_EXTS = (".wav", ".flac", ".sph", ".mp3")
DATASET = params(("speech_root", None), ("speakers_map", None), ("rir_map", None), ("noise_files", None),
                 ("target_sr", 16000), ("snr_range", (0.0, 20.0)), ("sir_range", (-5.0, 5.0)),
                 ("overlap_range", (0.3, 1.0)), ("snr_reference", "speech"), ("apply_rir_prob", 0.8),
                 ("apply_noise_prob", 0.8), ("speaker_count_probs", {1: 0.1, 2: 0.2, 3: 0.3, 4: 0.4}),
                 ("segment_seconds", 3.0), ("samples_per_epoch", None), ("seed", 0), ("rank", 0),
                 ("world_size", 1))
SISDR = params("estimation", "origin", ("eps", 1e-8))


def validation_set(talkers):
    name = "ValidationDataset_%dmix" % talkers
    return {name: params("args"), name + ".__init__": params("self", "args"), name + ".__len__": params("self"),
            name + "._read_wav_safe": params("self", "path"), name + ".__getitem__": params("self", "index")}


# A class's entry is what calling it takes; its methods' entries start with self.
EXPECTED = {
    "leadvoice": {
        "SpeakerTracker": TRACKER,
        "SpeakerTracker.__init__": params("self") + TRACKER,
        "SpeakerTracker.extract_embedding_from_array": params("self", "audio", ("min_speech_duration", 0.1)),
        "SpeakerTracker.match_speakers_between_segments": params("self", "curr_embeddings",
                                                                 ("separation_quality", None),
                                                                 ("speech_samples", None)),
        "SpeakerTracker.initialize_first_segment": params("self", "embeddings"),
        "SpeakerTracker.reset": params("self"),
        "SpeakerTracker._update_embedding": params("self", "global_id", "new_embedding",
                                                   ("separation_quality", None)),
        "cosine_similarity": params("emb1", "emb2"),
        "calculate_sisdr": params("estimation", "reference", ("eps", 1e-8)),
        "Calculate_Scale": params("estimation", "origin", ("eps", 1e-8)),
        "load_checkpoint_for_inference": params("checkpoint_path", "model", "device"),
        "ensure_dir": params("path"),
        "CSSProcessor": PROCESSOR,
        "CSSProcessor.__init__": params("self") + PROCESSOR,
        "CSSProcessor.process": params("self", "mix"),
        "CSSProcessor._stitch_global_streams": params("self", "segment_results", "total_samples"),
        "get_silero_vad_model": params(),
        "compute_speech_mean_energy": params("audio", ("sample_rate", 16000)),
        "select_main_channel": params("global_streams", ("sample_rate", 16000), ("energy_close_ratio", 0.9)),
        "Logger": params(("log_path", None)),
        "Logger.__init__": params("self", ("log_path", None)),
        "Logger.write": params("self", "message"),
        "Logger.flush": params("self"),
        "Logger.close": params("self"),
        "parse_args": params(),
        "collect_tasks_from_jsonl": params("jsonl_path", ("multi_spks_rate_threshold", 0.5)),
        "rms_level": params("audio"),
        "rms_normalize": params("audio", ("target_rms", 0.1)),
        "main": params(),
    },
    "triageflow": {
        "parse_args": params(),
        "parse_scp": params("scp_path"),
        "load_audio_16k": params("wav_path"),
        "MultiSpeakerDetector": params("ckpt_path", "device"),
        "MultiSpeakerDetector.__init__": params("self", "ckpt_path", "device"),
        "MultiSpeakerDetector.predict": params("self", "audio_16k"),
        "run_separation_and_save": params("utt_id", "wav_path", "audio_16k", "sr", "save_dir", "css_processor"),
        "main": params(),
    },
    "utility.blendkit": {
        "collect_files": params("patterns"),
        "collect_rir_hierarchy": params("patterns", ("exts", AUDIO_EXTS)),
        "find_audio_files_by_speaker": params("root", ("exts", AUDIO_EXTS)),
        "combine_speaker_mappings": params("mappings", ("strategy", "prefix")),
        "_safe_sf_read": params("path", ("dtype", "float32")),
        "_load_audio": params("path", "target_sr"),
        "_fft_convolve": params("signal", "ir"),
        "rms": params("x", ("eps", 1e-9)),
        "preserve_rms": params("orig", "processed", ("eps", 1e-12)),
        "_scale_for_sir": params("target", "interferer", "sir_db"),
        "_mix_noise_at_snr": params("clean", "noise", "snr_db", "rng"),
        "IterableSeparationDataset": DATASET,
        "IterableSeparationDataset.__init__": params("self") + DATASET,
        "IterableSeparationDataset.set_epoch": params("self", "epoch"),
        "IterableSeparationDataset._sample_speakers_and_utts": params("self", "rng", "num_spk"),
        "IterableSeparationDataset._sample_rir_room_and_files": params("self", "rng", ("num", 1),
                                                                       ("same_for_all", False)),
        "IterableSeparationDataset._sample_noise_segment": params("self", "noise_full", "rng",
                                                                  ("class_duration_sec", 10.0)),
        "IterableSeparationDataset._load_and_resample_rir": params("self", "rir_path"),
        "IterableSeparationDataset._fft_convolve_truncate": params("self", "signal", "ir"),
        "IterableSeparationDataset._get_shard_info": params("self"),
        "IterableSeparationDataset.__iter__": params("self"),
        **validation_set(1), **validation_set(2), **validation_set(3), **validation_set(4),
    },
    "utility.metrics": {
        "Calculate_SISDR": SISDR,
        "Parwise_SISDR": SISDR,
        "PIT": params("pairwise_sisdr", ("return_indices", False)),
    },
    "speech_resample.librosa": {
        "resample": params("y", "*", "orig_sr", "target_sr", ("res_type", "kaiser_best")),
    },
}

# Methods a class defines that are part of what it offers; other dunder
# entries of its namespace are the interpreter's.
OFFERED_DUNDERS = {"__init__", "__len__", "__getitem__", "__iter__"}


def defined_by_extension(module):
    """Qualified names of the functions, classes and methods the module's
    extension defines: what it binds, not what it imports."""
    own = {module.__name__, module.__name__ + "._" + module.__name__.rsplit(".", 1)[-1]}
    names = []
    for name, obj in vars(module).items():
        if isinstance(obj, types.ModuleType) or getattr(obj, "__module__", None) not in own:
            continue
        if isinstance(obj, type):
            names.append(name)
            names += [name + "." + m for m, v in vars(obj).items()
                      if callable(v) and (not m.startswith("__") or m in OFFERED_DUNDERS)]
        elif callable(obj):
            names.append(name)
    return names


def resolve(module_name, qualname):
    obj = importlib.import_module(module_name)
    for part in qualname.split("."):
        obj = getattr(obj, part)
    return obj


def shown(obj):
    return [(p.name, p.kind, p.default) for p in inspect.signature(obj).parameters.values()]


CASES = [(module, name) for module, names in EXPECTED.items() for name in names]


@pytest.mark.parametrize("module_name,qualname", CASES, ids=["%s.%s" % case for case in CASES])
def test_signature_shows_the_real_parameters(module_name, qualname):
    obj = resolve(module_name, qualname)
    expected = EXPECTED[module_name][qualname]
    got = shown(obj)
    assert [(n, k) for n, k, _ in got] == [(n, k) for n, k, _ in expected]
    for (name, _, default), (_, _, want) in zip(got, expected):
        assert type(default) is type(want) and default == want, name
    # help() leads with the same signature.
    rendered = pydoc.plain(pydoc.render_doc(obj))
    assert qualname.rsplit(".", 1)[-1] + str(inspect.signature(obj)) in rendered


@pytest.mark.parametrize("module_name", EXPECTED)
def test_the_table_covers_every_name_the_extension_defines(module_name):
    assert sorted(defined_by_extension(importlib.import_module(module_name))) == sorted(EXPECTED[module_name])


CLASSES = [(module, name) for module, name in CASES if isinstance(resolve(module, name), type)]


@pytest.mark.parametrize("module_name,qualname", CLASSES, ids=["%s.%s" % case for case in CLASSES])
def test_init_is_named_init_and_binds_as_a_method(module_name, qualname):
    cls = resolve(module_name, qualname)
    assert cls.__init__.__name__ == "__init__"
    assert inspect.signature(cls.__init__) == inspect.signature(vars(cls)["__init__"].__func__)
    # As for any class: bound to an instance, self is no longer a parameter.
    instance = object.__new__(cls)
    assert shown(instance.__init__) == EXPECTED[module_name][qualname]


def test_a_subclass_shows_its_own_signature():
    from utility.blendkit import IterableSeparationDataset

    class WithOwnInit(IterableSeparationDataset):
        def __init__(self, corpus, *, seed=7):
            super().__init__(speakers_map={"s": ["a.wav", "b.wav"]}, seed=seed)

    class Inheriting(IterableSeparationDataset):
        pass

    assert str(inspect.signature(WithOwnInit)) == "(corpus, *, seed=7)"
    assert inspect.signature(Inheriting) == inspect.signature(IterableSeparationDataset)
    assert WithOwnInit("c").seed == 7


def test_shared_defaults_are_shown_as_the_objects_hold_them():
    import utility.blendkit as bk
    assert inspect.signature(bk.collect_rir_hierarchy).parameters["exts"].default == bk.AUDIO_EXTS
    dataset = bk.IterableSeparationDataset(speakers_map={"s": ["a.wav", "b.wav"]})
    shown_probs = inspect.signature(bk.IterableSeparationDataset).parameters["speaker_count_probs"].default
    assert list(shown_probs.items()) == list(dataset.speaker_count_probs.items())
