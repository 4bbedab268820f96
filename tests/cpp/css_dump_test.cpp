#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/wav_io.h"
#include "css/dump.h"
#include "css/messages.h"
#include "scratch_folder.h"

namespace speech::css {
namespace {

TEST(CssDumpTest, FolderAndFileNames) {
  EXPECT_EQ(segment_folder_name(0, 0.0, 2.4), "segment_001_0.00s-2.40s");
  EXPECT_EQ(segment_folder_name(1, 19200 / 16000.0, 38401 / 16000.0), "segment_002_1.20s-2.40s");
  EXPECT_EQ(segment_folder_name(998, 1197.6, 1200.0), "segment_999_1197.60s-1200.00s");
  EXPECT_EQ(segment_folder_name(999, 1198.8, 1201.2), "segment_1000_1198.80s-1201.20s");
  EXPECT_EQ(separated_file_name(0), "separated_0.wav");
  EXPECT_EQ(separated_file_name(12), "separated_12.wav");
}

using CssDumpFileTest = ScratchFolderTest;

TEST_F(CssDumpFileTest, WavIs16BitAndClips) {
  const std::string path = at("mix.wav");
  const std::vector<double> samples = {0.5, 1.5, -1.5, -0.25};
  write_dump_wav(path, common::samples_of(samples), 16000);
  const common::AudioData back = common::read_audio(path);
  EXPECT_EQ(back.frames, 4);
  EXPECT_EQ(back.sample_rate, 16000);
  EXPECT_NEAR(back.samples[0], 0.5, 1e-4);
  EXPECT_NEAR(back.samples[1], 32767.0 / 32768.0, 1e-4);   // saturated, not wrapped
  EXPECT_NEAR(back.samples[2], -1.0, 1e-4);
}

TEST(CssMessagesTest, LinesAsPrinted) {
  EXPECT_EQ(segment_count_line(8), "总计 8 个片段需要处理");
  EXPECT_EQ(window_header_line(7, 8, 8.4, 10.0), "\n片段 8/8: 位置 [8.40s - 10.00s]");
  EXPECT_EQ(merge_matrix_row_line(0, {0.0, 0.812, 0.104}), "           信号0: [  -  , 0.812, 0.104]");
  EXPECT_EQ(merge_matrix_row_line(1, {-1.0, 0.0}), "           信号1: [-1.000,   -  ]");
  EXPECT_EQ(merge_attempt_line(1, 0, 2, 0.5, "0.5"),
            "    [信号合并 #1] 信号0和信号2的embedding相似度=0.500 >= 0.5，进行合并");
  EXPECT_EQ(merge_stop_line(-1.0, "0.7"), "    [信号合并检查] 最大相似度=-1.000 < 阈值0.7，无需合并");
  EXPECT_EQ(init_ids_line("[0, 1, -1]"), "    [初始化] 创建全局说话人ID: [0, 1, -1]");
  EXPECT_EQ(ids_line("[]"), "    全局说话人ID: []");
}

}  // namespace
}  // namespace speech::css
