#include "driver/run_outputs.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "common/errors.h"
#include "scratch_folder.h"

namespace speech::driver {
namespace {

class LogOverInputs : public ScratchFolderTest {
 protected:
  void SetUp() override {
    for (const char* name : {"ck.pth", "tasks.jsonl", "a.wav", "b.wav", "other.log"}) scratch_.write(name, name);
    ASSERT_EQ(link(at("b.wav").c_str(), at("b_again.wav").c_str()), 0);
    inputs_.inference = at("ck.pth");
    inputs_.data_jsonl = at("tasks.jsonl");
    // A recording that is gone by the time the run starts.
    inputs_.recordings = {{at("a.wav"), 2}, {at("gone.wav"), 3}, {at("b_again.wav"), 5}, {at("b.wav"), 6}};
  }
  // The refusal's text, or "" when the run may go on.
  std::string refusal(const std::string& log_file) const {
    try {
      refuse_log_over_inputs(log_file, inputs_);
    } catch (const common::ValueError& e) {
      return e.what();
    }
    return "";
  }

  RunFiles inputs_;
};

TEST_F(LogOverInputs, NamesTheFirstInputTheLogWouldEmpty) {
  const std::string prefix = "--log_file 与 ";
  EXPECT_EQ(refusal(at("./ck.pth")), prefix + "--inference 是同一个文件，写日志会清空CSS 分离模型权重: " +
                                         at("./ck.pth") + " (inference: " + at("ck.pth") + ")");
  EXPECT_EQ(refusal(at("tasks.jsonl")), prefix + "--data_jsonl 是同一个文件，写日志会清空任务列表: " +
                                            at("tasks.jsonl") + " (data_jsonl: " + at("tasks.jsonl") + ")");
  // b.wav and b_again.wav are one file: the earlier task is the one named.
  EXPECT_EQ(refusal(at("b.wav")), prefix + "jsonl第5行的音频 是同一个文件，写日志会清空该音频: " + at("b.wav") +
                                      " (wav: " + at("b_again.wav") + ")");
  // A log path that leads to nothing matches by its spelling.
  EXPECT_EQ(refusal(at("x/../gone.wav")), prefix + "jsonl第3行的音频 是同一个文件，写日志会清空该音频: " +
                                              at("x/../gone.wav") + " (wav: " + at("gone.wav") + ")");
  for (const std::string& free : {at("other.log"), at("new.log"), at("a.wav.log")}) EXPECT_EQ(refusal(free), "");

  inputs_.data_jsonl.reset();
  for (RecordingInput& recording : inputs_.recordings) recording.line_no = -1;
  EXPECT_EQ(refusal(at("tasks.jsonl")), "");
  EXPECT_EQ(refusal(at("a.wav")), prefix + "--data_path 中的音频 是同一个文件，写日志会清空该音频: " + at("a.wav") +
                                      " (wav: " + at("a.wav") + ")");
}

}  // namespace
}  // namespace speech::driver
