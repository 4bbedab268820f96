"""多说话人检测门控的批处理链路。

流程：读取 scp 列表（每行 <utt_id> <wav_path>），逐条加载音频并重采样到
16kHz 单通道，用多说话人检测模型（NoisyDetectorV2）计算 multi_spks_rate；
低于阈值的判为单人、不做分离；达到阈值且长于一个 hop 的音频经 CSS 分离与
说话人追踪得到全局说话人流，按能量与语音时长选出主说话人。

输出：每条分离的音频在 save_dir 下一个以 utt_id 命名的子目录，含 log.txt、
main_speaker_<id>.wav 与 other_speaker_<id>.wav；结果 jsonl 中每条 scp 记录
一行（单人、已分离或失败及其错误信息）。
"""
try:
    # The extension defines every name of the module in this package's own
    # namespace as it loads.
    from triageflow import _triageflow  # noqa: F401
except ImportError as error:
    # The extension's initialisation reports a failed dependency import as
    # "initialization failed"; the dependency's own error is the one to see.
    if error.__cause__ is not None:
        raise error.__cause__ from None
    raise
