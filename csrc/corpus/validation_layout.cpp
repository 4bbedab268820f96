#include "corpus/validation_layout.h"

namespace speech::corpus {
std::string validation_set(int talkers) { return std::to_string(talkers) + "mix"; }

std::string validation_table(int talkers) { return "/" + validation_set(talkers) + "/metadata_validation.csv"; }

std::vector<ValidationFiles> validation_files(int talkers) {
  std::vector<ValidationFiles> files{{"mixture_path", validation_set(talkers) + "/mixture"}};
  for (int k = 1; k <= talkers; ++k) {
    files.push_back({"spk" + std::to_string(k) + "_path", validation_set(talkers) + "/s" + std::to_string(k)});
  }
  return files;
}

}  // namespace speech::corpus
