#pragma once
// The core's random draws made on an interpreter random stream (a
// random.Random, or any object with its methods) with the same calls and
// arguments: a choice or a sample is handed the population itself, as the
// dataset holds it, and the member it returns is found back in it.
#include <pybind11/pybind11.h>

#include <cstdint>
#include <vector>

#include "mixsim/random_draws.h"

namespace speech::mixture {

// The populations of one dataset, read from its fields when a draw needs
// them. The speaker ids are copied, and the rooms read, once per object.
class DatasetMembers {
 public:
  explicit DatasetMembers(pybind11::object dataset) : dataset_(std::move(dataset)) {}

  int64_t speaker_count();
  pybind11::object sequence(const mixsim::Members& members);
  // The weights of the speaker counts, in the order of sequence().
  pybind11::object weights();

 private:
  const pybind11::object& speakers();
  const pybind11::object& rooms();

  pybind11::object dataset_;
  pybind11::object speakers_;
  pybind11::object rooms_;
};

class StreamDraws final : public mixsim::RandomDraws {
 public:
  StreamDraws(pybind11::object stream, DatasetMembers& members) : stream_(std::move(stream)), members_(members) {}

  const pybind11::object& stream() const { return stream_; }

  double random() override;
  int64_t randint(int64_t low, int64_t high) override;
  int64_t randrange(int64_t stop) override;
  double uniform(double low, double high) override;
  int64_t choice(const mixsim::Members& from) override;
  std::vector<int64_t> sample(const mixsim::Members& from, int64_t k) override;
  int64_t weighted_choice(const mixsim::Members& from) override;

 private:
  pybind11::object stream_;
  DatasetMembers& members_;
};

// The place of `member` in `sequence`: the first entry that is the member
// itself, else the first equal to it. ValueError when there is none.
int64_t index_of(const pybind11::handle& sequence, const pybind11::handle& member);

}  // namespace speech::mixture
