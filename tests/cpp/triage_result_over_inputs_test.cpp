#include "triage/result_over_inputs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "common/errors.h"
#include "scratch_folder.h"

namespace speech::triage {
namespace {

namespace fs = std::filesystem;

// The inputs of a run, with a record of what the refusal asked for.
class ListedInputs : public RunInputs {
 public:
  std::string detector = "det.tar";
  std::string separation = "sep.pth";
  std::vector<std::string> wavs;
  std::vector<std::string> ids;  // empty: "u1", "u2", ...
  mutable std::vector<std::string> asked;

  std::string detector_ckpt() const override { return ask("detector", detector); }
  std::string inference() const override { return ask("inference", separation); }
  size_t entry_count() const override { return wavs.size(); }
  std::string wav_path(size_t entry) const override { return ask("wav" + std::to_string(entry), wavs[entry]); }
  std::string utt_id(size_t entry) const override {
    return ask("id" + std::to_string(entry), ids.empty() ? "u" + std::to_string(entry + 1) : ids[entry]);
  }

 private:
  std::string ask(const std::string& what, std::string value) const {
    asked.push_back(what);
    return value;
  }
};

class ResultOverInputs : public ScratchFolderTest {
 protected:
  void SetUp() override {
    ScratchFolderTest::SetUp();
    for (const char* file : {"list.scp", "a.wav", "b.wav", "det.tar", "sep.pth"}) std::ofstream(at(file)) << file;
    inputs_.detector = at("det.tar");
    inputs_.separation = at("sep.pth");
    inputs_.wavs = {at("a.wav"), at("b.wav")};
  }
  // The refusal's text, or "" when the run may go on.
  std::string refusal(const std::string& out_jsonl) const {
    try {
      refuse_result_over_list(out_jsonl, at("list.scp"));
      refuse_result_over_inputs(out_jsonl, inputs_);
    } catch (const common::ValueError& e) {
      return e.what();
    }
    return "";
  }

  ListedInputs inputs_;
};

TEST_F(ResultOverInputs, EveryInputIsNamedUnderAnySpellingOrLink) {
  fs::create_symlink(at("list.scp"), at("soft.jsonl"));
  fs::create_hard_link(at("b.wav"), at("hard.jsonl"));
  const struct {
    std::string out_jsonl;
    std::string refusal;
  } cases[] = {
      {at("list.scp"), "--out_jsonl 与 --scp 是同一个文件，写结果会清空输入列表: " + at("list.scp") + " (scp: " +
                           at("list.scp") + ")"},
      {at("soft.jsonl"), "--out_jsonl 与 --scp 是同一个文件，写结果会清空输入列表: " + at("soft.jsonl") + " (scp: " +
                             at("list.scp") + ")"},
      {dir_.string() + "/./det.tar", "--out_jsonl 与 --detector_ckpt 是同一个文件，写结果会清空多说话人检测模型权重: " +
                                         dir_.string() + "/./det.tar (detector_ckpt: " + at("det.tar") + ")"},
      {at("sep.pth"), "--out_jsonl 与 --inference 是同一个文件，写结果会清空CSS 分离模型权重: " + at("sep.pth") +
                          " (inference: " + at("sep.pth") + ")"},
      {at("hard.jsonl"), "--out_jsonl 与 scp 第 2 条 (u2) 的 wav 是同一个文件，写结果会清空该音频: " +
                             at("hard.jsonl") + " (wav: " + at("b.wav") + ")"},
      {at("new.jsonl"), ""},
  };
  for (const auto& c : cases) EXPECT_EQ(refusal(c.out_jsonl), c.refusal) << c.out_jsonl;
}

TEST_F(ResultOverInputs, AListedWavThatIsGoneIsStillTheResultsPlace) {
  // The run would write its results where it means to read that utterance.
  inputs_.wavs = {at("a.wav"), at("gone/b.wav")};
  EXPECT_EQ(refusal(at("gone/x/../b.wav")), "--out_jsonl 与 scp 第 2 条 (u2) 的 wav 是同一个文件，写结果会清空该音频: " +
                                               at("gone/x/../b.wav") + " (wav: " + at("gone/b.wav") + ")");
  EXPECT_EQ(refusal(at("gone/c.wav")), "");
}

TEST_F(ResultOverInputs, TheFirstListedWavIsNamed) {
  inputs_.wavs = {at("a.wav"), at("b.wav"), at("b.wav")};
  EXPECT_NE(refusal(at("b.wav")).find("scp 第 2 条 (u2)"), std::string::npos);
  EXPECT_EQ(inputs_.asked.back(), "id1");
}

// The utterance folders under "sep": u2's holds a log and two streams.
class ResultOverOutputs : public ResultOverInputs {
 protected:
  void SetUp() override {
    ResultOverInputs::SetUp();
    fs::create_directories(at("sep/u2"));
    for (const char* file : {"sep/u2/log.txt", "sep/u2/main_speaker_0.wav", "sep/u2/other_speaker_1.wav"})
      std::ofstream(at(file)) << file;
  }
  std::string refusal(const std::string& out_jsonl) const {
    try {
      refuse_result_over_outputs(out_jsonl, at("sep"), inputs_);
    } catch (const common::ValueError& e) {
      return e.what();
    }
    return "";
  }
  std::string refused(const std::string& out_jsonl, int idx, const std::string& output) const {
    return "--out_jsonl 是 scp 第 " + std::to_string(idx) + " 条 (u" + std::to_string(idx) +
           ") 在 --save_dir 下的输出文件，运行会覆盖或删除它，结果会丢失: " + out_jsonl + " (" + at(output) + ")";
  }
};

TEST_F(ResultOverOutputs, AFileOfAListedUtteranceFolderIsRefusedUnderAnySpellingOrLink) {
  fs::create_directory_symlink(at("sep"), at("link"));
  fs::create_symlink(at("sep/u2/log.txt"), at("soft.jsonl"));
  fs::create_hard_link(at("sep/u2/main_speaker_0.wav"), at("hard.jsonl"));
  const std::string relative = fs::relative(at("sep/u1/log.txt")).string();
  const struct {
    std::string out_jsonl;
    std::string refusal;
  } cases[] = {
      // By the text alone, before the folder exists.
      {at("sep/u1/log.txt"), refused(at("sep/u1/log.txt"), 1, "sep/u1/log.txt")},
      {relative, refused(relative, 1, "sep/u1/log.txt")},
      {dir_.string() + "/sep//u2/../u2/./main_speaker_0.wav",
       refused(dir_.string() + "/sep//u2/../u2/./main_speaker_0.wav", 2, "sep/u2/main_speaker_0.wav")},
      {at("sep/u1/other_speaker_12.wav"), refused(at("sep/u1/other_speaker_12.wav"), 1, "sep/u1/other_speaker_12.wav")},
      // By identity: a linked folder, a link to the file, a hard link.
      {at("link/u2/other_speaker_7.wav"), refused(at("link/u2/other_speaker_7.wav"), 2, "sep/u2/other_speaker_7.wav")},
      {at("soft.jsonl"), refused(at("soft.jsonl"), 2, "sep/u2/log.txt")},
      {at("hard.jsonl"), refused(at("hard.jsonl"), 2, "sep/u2/main_speaker_0.wav")},
      // Files the run neither writes nor removes.
      {at("sep/result.jsonl"), ""},
      {at("sep/u2/notes.txt"), ""},
      {at("sep/u2/main_speaker_0.wav.jsonl"), ""},
      {at("sep/u3/log.txt"), ""},
      {at("sep/u2/sub/log.txt"), ""},
      {at("sep"), ""},
  };
  for (const auto& c : cases) EXPECT_EQ(refusal(c.out_jsonl), c.refusal) << c.out_jsonl;
}

TEST_F(ResultOverOutputs, AnIdThatLeadsOutOfTheSaveFolderHasNoFolder) {
  inputs_.ids = {"../u1", "/abs", "u2"};
  inputs_.wavs.push_back(at("b.wav"));
  EXPECT_EQ(refusal(at("u1/log.txt")), "");
  EXPECT_EQ(refusal(at("/abs/log.txt")), "");
  EXPECT_NE(refusal(at("sep/u2/log.txt")).find("scp 第 3 条 (u2)"), std::string::npos);
}

TEST_F(ResultOverOutputs, IdsAreAskedForOnlyWhenTheResultMayBeAFolderFile) {
  std::ofstream(at("old.jsonl")) << "{}\n";
  for (const char* out : {"new.jsonl", "old.jsonl", "sep/result.jsonl"}) refuse_result_over_outputs(at(out), at("sep"), inputs_);
  EXPECT_TRUE(inputs_.asked.empty());
}

}  // namespace
}  // namespace speech::triage
