#pragma once
// The room of one reverberant mixture and an impulse response of that room
// for each of its sources: every source of a mixture sounds in one room.
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "mixsim/random_draws.h"

namespace speech::mixsim {

struct RoomFiles {
  int64_t room = 0;
  std::vector<int64_t> files;  // indices into the room's impulse responses
};

// Nothing when no room can be drawn: there are no rooms (no draw), or the
// room drawn holds no files. Otherwise `num` files of the drawn room (none
// for 0 or less): one drawn file `num` times when `same_for_all`; distinct
// files (one sample) when the room holds at least `num`; else `num`
// separate choices, which may repeat. `files_in` gives a room's file count.
std::optional<RoomFiles> sample_room_files(RandomDraws& rng, int64_t rooms,
                                           const std::function<int64_t(int64_t room)>& files_in, int64_t num,
                                           bool same_for_all);

}  // namespace speech::mixsim
