#pragma once
// Where the validation set of N talkers lies below the validation root:
// "<N>mix/metadata_validation.csv" lists one file name per item (its second
// column), and the item's files lie under that name in "<N>mix/mixture"
// and in one folder per source, "<N>mix/s1" to "<N>mix/s<N>".
#include <string>
#include <vector>

namespace speech::corpus {

// The folders below the root that a table's file name is joined under.
constexpr int kValidationFolderDepth = 2;
// The table's column that holds the file names.
constexpr int kValidationNameColumn = 1;

// "<N>mix", which also names the set's dataset class.
std::string validation_set(int talkers);

// "/<N>mix/metadata_validation.csv", to follow the root.
std::string validation_table(int talkers);

// The dataset's path lists, "mixture_path", then "spk1_path" to "spk<N>_path",
// each with the folder its files lie in.
struct ValidationFiles {
  std::string field;
  std::string folder;
};
std::vector<ValidationFiles> validation_files(int talkers);

}  // namespace speech::corpus
