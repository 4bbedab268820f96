#pragma once
// Texts of the driver's run: errors, progress lines and the per-window report.
#include <cstdint>
#include <string>
#include <vector>

#include "driver/run_tally.h"

namespace speech::driver {

extern const char* const kNeitherInputError;
extern const char* const kBothInputsError;

std::string not_a_directory_error(const std::string& data_path);
std::string no_wav_files_message(const std::string& data_path);
std::string directory_mode_line(size_t wav_count);
std::string jsonl_mode_line(const std::string& jsonl_path);
// `threshold`: as the interpreter prints the real.
std::string empty_task_list_message(const std::string& threshold);
// --log_file names an input of the run, which its first log would empty.
// `line_no` is the recording's task-list line, -1 in directory mode.
std::string log_is_checkpoint_error(const std::string& log_file, const std::string& inference);
std::string log_is_task_list_error(const std::string& log_file, const std::string& data_jsonl);
std::string log_is_recording_error(const std::string& log_file, const std::string& wav_path, int64_t line_no);
// --log_file names a file that a task's recording writes or removes in its
// folder (`output_path`).
std::string log_is_output_error(const std::string& log_file, const std::string& wav_path, int64_t line_no,
                                const std::string& output_path);
// A recording the input names is `output_path`, a file that the task of
// `task_wav_path` writes or removes in its folder.
std::string recording_is_output_error(const std::string& wav_path, int64_t line_no, const std::string& task_wav_path,
                                      int64_t task_line_no, const std::string& output_path);
std::string cuda_unavailable_line();
std::string loading_model_line();
std::string loading_tracker_line();

std::string log_will_be_saved_line(const std::string& log_path);
// A later task whose recording shares its stem with an earlier task's would
// write over that task's results. `earlier_line_no` is -1 in directory mode.
std::string folder_taken_warning(const std::string& wav_path, const std::string& save_dir,
                                 const std::string& earlier_wav_path, int64_t earlier_line_no);
// `error`: the reader's text, which names the file.
std::string unreadable_recording_warning(const std::string& error);
// `error`: the resampler's text, which names no file.
std::string resampling_failed_text(const std::string& wav_path, int64_t file_rate, const std::string& error);
std::string non_finite_recording_warning(const std::string& wav_path);
// A recording whose outputs failed. `error`: the operating system's text,
// which names the folder or file.
std::string folder_failed_warning(const std::string& wav_path, const std::string& error);
std::string log_failed_warning(const std::string& wav_path, const std::string& error);
std::string output_failed_warning(const std::string& wav_path, const std::string& error);
std::string resampled_warning(const std::string& wav_path, int64_t file_rate, int64_t target_rate);
std::string loaded_mix_line(const std::string& wav_path, int64_t sample_rate, int64_t samples);
std::string processing_start_line();
std::string speaker_count_line(size_t speakers);
std::string saved_mix_line(const std::string& path);
std::string saved_main_line(const std::string& path);
std::string no_main_channel_warning();
std::string main_speaker_file_name(const std::string& id);
std::string report_header();
std::string segment_report_line(int64_t seg_idx, int64_t start_sample, int64_t end_sample, int64_t sample_rate,
                                const std::vector<int64_t>& global_ids);
std::string finished_line(const std::string& save_dir);
std::string log_saved_line(const std::string& log_path);

std::string run_summary_line(const RunTally& tally);

}  // namespace speech::driver
