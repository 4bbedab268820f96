#pragma once
// A random stream for the training-stream tests: every call is written to a
// log that several streams may share, as "worker.randint(0, 96)", and is
// answered from the stream's script in order; past its script a call
// answers the lowest value it allows. An empty range is refused as the
// interpreter's random module refuses it.
#include <cstdint>
#include <deque>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/errors.h"
#include "mixsim/random_draws.h"

namespace speech::mixsim {

using DrawLog = std::vector<std::string>;

inline std::string members_text(const Members& m) {
  switch (m.population) {
    case Population::kSpeakers:
      return "speakers";
    case Population::kSpeakerFiles:
      return "files of speaker " + std::to_string(m.owner);
    case Population::kRooms:
      return "rooms";
    case Population::kRoomFiles:
      return "files of room " + std::to_string(m.owner);
    case Population::kNoiseFiles:
      return "noise files";
    case Population::kSpeakerCounts:
      return "speaker counts";
  }
  return "?";
}

inline std::string number_text(double x) {
  std::ostringstream out;
  out << x;
  return out.str();
}

class ScriptedDraws final : public RandomDraws {
 public:
  ScriptedDraws(std::string name, std::shared_ptr<DrawLog> log, std::vector<double> script = {})
      : name_(std::move(name)), log_(std::move(log)), script_(script.begin(), script.end()) {}

  double random() override {
    note("random()");
    return next(0.0);
  }
  int64_t randint(int64_t low, int64_t high) override {
    note("randint(" + std::to_string(low) + ", " + std::to_string(high) + ")");
    if (high < low) throw common::ValueError("empty range for randrange");
    return static_cast<int64_t>(next(static_cast<double>(low)));
  }
  int64_t randrange(int64_t stop) override {
    note("randrange(" + std::to_string(stop) + ")");
    if (stop <= 0) throw common::ValueError("empty range for randrange()");
    return static_cast<int64_t>(next(0.0));
  }
  double uniform(double low, double high) override {
    note("uniform(" + number_text(low) + ", " + number_text(high) + ")");
    return next(low);
  }
  int64_t choice(const Members& from) override {
    note("choice(" + members_text(from) + ")");
    return static_cast<int64_t>(next(0.0));
  }
  std::vector<int64_t> sample(const Members& from, int64_t k) override {
    note("sample(" + members_text(from) + ", " + std::to_string(k) + ")");
    std::vector<int64_t> drawn;
    for (int64_t i = 0; i < k; ++i) drawn.push_back(static_cast<int64_t>(next(static_cast<double>(i))));
    return drawn;
  }
  int64_t weighted_choice(const Members& from) override {
    note("choices(" + members_text(from) + ")");
    return static_cast<int64_t>(next(0.0));
  }

  void add(std::vector<double> values) { script_.insert(script_.end(), values.begin(), values.end()); }

 private:
  void note(const std::string& call) { log_->push_back(name_ + "." + call); }
  double next(double fallback) {
    if (script_.empty()) return fallback;
    const double value = script_.front();
    script_.pop_front();
    return value;
  }

  std::string name_;
  std::shared_ptr<DrawLog> log_;
  std::deque<double> script_;
};

}  // namespace speech::mixsim
