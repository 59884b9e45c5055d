#pragma once
// Ratings from traffic: a user that has received much gets a smaller part of its group's share.
#include "core/model.h"

namespace movra {

// Sets every user's rating from the traffic it has received: StartKoeff below SefeTraff
// megabytes, EndKoeff from MaxTraff on (with DnoLimitKbits, when set, as its hard maxima), and
// falling linearly in between. The division reads the ratings; a group's rating sums follow at
// the next poll. Requires the lock.
void RatingsFromTraffic(Model& m);

}  // namespace movra
