#include "mixsim/room_sampling.h"

namespace speech::mixsim {

std::optional<RoomFiles> sample_room_files(RandomDraws& rng, int64_t rooms,
                                           const std::function<int64_t(int64_t room)>& files_in, int64_t num,
                                           bool same_for_all) {
  if (rooms == 0) return std::nullopt;
  RoomFiles drawn;
  drawn.room = rng.choice({Population::kRooms, 0});
  const int64_t files = files_in(drawn.room);
  if (files == 0) return std::nullopt;
  if (num <= 0) return drawn;
  const Members room_files{Population::kRoomFiles, drawn.room};
  if (same_for_all) {
    drawn.files.assign(static_cast<size_t>(num), rng.choice(room_files));
  } else if (files >= num) {
    drawn.files = rng.sample(room_files, num);
  } else {
    // Separate choices, not one choices call with k = num: the two consume
    // the stream differently.
    for (int64_t i = 0; i < num; ++i) drawn.files.push_back(rng.choice(room_files));
  }
  return drawn;
}

}  // namespace speech::mixsim
