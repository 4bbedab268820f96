#include "triage/gates.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <variant>

#include "scratch_folder.h"

namespace speech::triage {
namespace {

namespace fs = std::filesystem;

// The parts of a verdict that reach the console, the result line and the
// counts, in one comparable value.
struct Expected {
  Outcome outcome;
  bool rated;
  bool multi_spks;
  std::string error;
  std::string line;
  bool line_after_record;
};

void expect_verdict(const std::optional<Verdict>& got, const std::optional<Expected>& want) {
  ASSERT_EQ(got.has_value(), want.has_value());
  if (!want) return;
  EXPECT_EQ(got->outcome, want->outcome);
  EXPECT_EQ(got->rated, want->rated);
  EXPECT_EQ(got->multi_spks, want->multi_spks);
  EXPECT_EQ(got->error, want->error);
  EXPECT_EQ(got->line, want->line);
  EXPECT_EQ(got->line_after_record, want->line_after_record);
}

const GateSettings kDefaults{0.3, "0.3", 1.2, "1.2"};
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct GateCase {
  const char* name;
  std::optional<Verdict> (*gate)();
  std::optional<Expected> expected;  // empty: the entry goes on
};

void PrintTo(const GateCase& c, std::ostream* os) { *os << c.name; }

class Gates : public ::testing::TestWithParam<GateCase> {};

TEST_P(Gates, VerdictOfEachGate) { expect_verdict(GetParam().gate(), GetParam().expected); }

const Expected kFailedUnrated{Outcome::kFailed, false, false, "", "", false};
const Expected kFailedRated{Outcome::kFailed, true, true, "", "", false};

Expected with(Expected e, std::string error, std::string line, bool after = false) {
  e.error = std::move(error);
  e.line = std::move(line);
  e.line_after_record = after;
  return e;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Gates,
    ::testing::Values(
        GateCase{"load_failed", [] { return std::optional<Verdict>(load_failure("bad header")); },
                 with(kFailedUnrated, "load_failed: bad header", "[错误] 读取音频失败: bad header")},
        // An exception without a message leaves the prefix and its blank.
        GateCase{"load_failed_without_text", [] { return std::optional<Verdict>(load_failure("")); },
                 with(kFailedUnrated, "load_failed: ", "[错误] 读取音频失败: ")},
        GateCase{"detector_raised", [] { return detection_failure(std::string("cuda oom"), 0.0); },
                 with(kFailedUnrated, "detector_failed: cuda oom", "[错误] 多说话人检测失败: cuda oom")},
        GateCase{"detector_nan", [] { return detection_failure(std::nullopt, kNaN); },
                 with(kFailedUnrated, "detector_failed: multi_spks_rate 不是有限值: nan",
                      "[错误] 多说话人检测失败: multi_spks_rate 不是有限值: nan")},
        GateCase{"detector_inf", [] { return detection_failure(std::nullopt, -kInf); },
                 with(kFailedUnrated, "detector_failed: multi_spks_rate 不是有限值: -inf",
                      "[错误] 多说话人检测失败: multi_spks_rate 不是有限值: -inf")},
        GateCase{"detector_rated", [] { return detection_failure(std::nullopt, 0.0); }, std::nullopt},
        GateCase{"below_threshold", [] { return single_speaker(0.2999, kDefaults); },
                 Expected{Outcome::kSingle, true, false, "", "-> 判定为单人，跳过分离", true}},
        GateCase{"rate_equal_to_threshold", [] { return single_speaker(0.3, kDefaults); }, std::nullopt},
        GateCase{"negative_threshold", [] { return single_speaker(0.0, GateSettings{-0.1, "-0.1", 1.2, "1.2"}); },
                 std::nullopt},
        GateCase{"one_hop_is_too_short", [] { return too_short(1.2, kDefaults); },
                 with(kFailedRated, "audio_too_short_for_css: duration=1.20s <= hop_duration=1.2s",
                      "-> 音频过短 (1.20s <= hop_duration 1.2s)，跳过分离", true)},
        GateCase{"hop_as_written", [] { return too_short(0.853, GateSettings{0.3, "0.3", 2.0, "2.0"}); },
                 with(kFailedRated, "audio_too_short_for_css: duration=0.85s <= hop_duration=2.0s",
                      "-> 音频过短 (0.85s <= hop_duration 2.0s)，跳过分离", true)},
        GateCase{"one_sample_over_a_hop", [] { return too_short(19201.0 / 16000.0, kDefaults); }, std::nullopt},
        GateCase{"folder_failed", [] { return std::optional<Verdict>(folder_failure("[Errno 17] File exists: 'x'")); },
                 with(kFailedRated, "utt_dir_failed: [Errno 17] File exists: 'x'",
                      "[错误] 创建输出目录失败: [Errno 17] File exists: 'x'")},
        GateCase{"log_failed", [] { return std::optional<Verdict>(log_failure("[Errno 21] Is a directory")); },
                 with(kFailedRated, "log_file_failed: [Errno 21] Is a directory",
                      "[错误] 创建日志文件失败: [Errno 21] Is a directory")},
        GateCase{"separation_raised",
                 [] { return std::optional<Verdict>(separation_verdict(std::string("boom"), true)); },
                 with(kFailedRated, "separation_failed: boom", "[错误] 分离失败: boom")},
        GateCase{"no_stream_kept", [] { return std::optional<Verdict>(separation_verdict(std::nullopt, false)); },
                 with(kFailedRated, "separation_failed: no speaker stream was kept",
                      "[错误] 分离失败: no speaker stream was kept")},
        GateCase{"separated", [] { return std::optional<Verdict>(separation_verdict(std::nullopt, true)); },
                 Expected{Outcome::kMulti, true, true, "", "", false}}),
    [](const ::testing::TestParamInfo<GateCase>& info) { return std::string(info.param.name); });

using GateFiles = ScratchFolderTest;

TEST_F(GateFiles, OnlyARegularFileIsAWav) {
  std::ofstream(at("a.wav")) << "x";
  fs::create_directory(at("folder.wav"));
  ASSERT_EQ(::mkfifo(at("pipe.wav").c_str(), 0600), 0);
  fs::create_symlink(at("a.wav"), at("link.wav"));
  fs::create_symlink(at("gone.wav"), at("dangling.wav"));
  EXPECT_FALSE(missing_wav(at("a.wav")));
  EXPECT_FALSE(missing_wav(at("link.wav")));
  for (const std::string& path : {at("folder.wav"), at("pipe.wav"), at("dangling.wav"), at("none.wav"),
                                  at("a.wav") + std::string(1, '\0')}) {
    expect_verdict(missing_wav(path), with(kFailedUnrated, "wav_not_found", "[错误] wav 不存在: " + path));
  }
}

std::optional<Verdict> refusal(const std::variant<std::string, Verdict>& admitted) {
  if (const auto* verdict = std::get_if<Verdict>(&admitted)) return *verdict;
  return std::nullopt;
}

TEST_F(GateFiles, IdsThatLeaveTheSaveFolderAreRefused) {
  const UtteranceFolders folders(dir_.string());
  expect_verdict(refusal(folders.admit("../up")), with(kFailedRated, "unsafe_utt_id: utt_id has a '..' component",
                                                       "[错误] utt_id 不能用作输出子目录: utt_id has a '..' component"));
  expect_verdict(refusal(folders.admit("/abs")), with(kFailedRated, "unsafe_utt_id: utt_id is an absolute path",
                                                      "[错误] utt_id 不能用作输出子目录: utt_id is an absolute path"));
  EXPECT_EQ(std::get<std::string>(folders.admit("spk/u1")), at("spk/u1"));
}

TEST_F(GateFiles, AClaimedFolderIsRefusedUnderAnySpelling) {
  UtteranceFolders folders(dir_.string());
  const std::string first = std::get<std::string>(folders.admit("u1"));
  // Admitting claims nothing: only an entry that made its folder and log does.
  EXPECT_EQ(std::get<std::string>(folders.admit("u1")), first);
  fs::create_directory(first);
  folders.claim(first, 3);
  fs::create_directory_symlink(first, at("alias"));
  for (const char* id : {"u1", "./u1", "u1/", "alias"}) {
    const std::string folder = dir_.string() + "/" + id;
    expect_verdict(refusal(folders.admit(id)),
                   with(kFailedRated, "duplicate_utt_id: output folder already used by entry 3 of this run: " + folder,
                        "[错误] 输出目录已被本次第 3 条使用，跳过分离: " + folder));
  }
  EXPECT_EQ(std::get<std::string>(folders.admit("u2")), at("u2"));
}

}  // namespace
}  // namespace speech::triage
