#pragma once
// The calls the training stream makes on one of its seeded random streams.
// Which calls, in which order and with which arguments, is what makes a
// seeded stream give the same samples again: whoever owns a real stream
// makes exactly these calls on it, with these arguments.
#include <cstdint>
#include <vector>

namespace speech::mixsim {

// What a choice or a sample is drawn from. The core only counts and
// indexes members; the stream's owner knows what they are and hands the
// population itself to the real stream.
enum class Population {
  kSpeakers,       // the dataset's speaker ids
  kSpeakerFiles,   // the utterance files of one speaker
  kRooms,          // the rooms that hold impulse responses
  kRoomFiles,      // the impulse responses of one room
  kNoiseFiles,     // the noise files
  kSpeakerCounts,  // the speaker counts of a batch, with their weights
};

struct Members {
  Population population = Population::kSpeakers;
  int64_t owner = 0;  // the speaker or the room, for their file lists
};

class RandomDraws {
 public:
  virtual ~RandomDraws() = default;

  // In [0, 1).
  virtual double random() = 0;
  // low <= result <= high.
  virtual int64_t randint(int64_t low, int64_t high) = 0;
  // 0 <= result < stop.
  virtual int64_t randrange(int64_t stop) = 0;
  // Between low and high.
  virtual double uniform(double low, double high) = 0;
  // The index of the member drawn.
  virtual int64_t choice(const Members& from) = 0;
  // The indices of k distinct members, in the order drawn.
  virtual std::vector<int64_t> sample(const Members& from, int64_t k) = 0;
  // The index of one member drawn by the population's weights (a choices
  // call with k = 1).
  virtual int64_t weighted_choice(const Members& from) = 0;
};

}  // namespace speech::mixsim
