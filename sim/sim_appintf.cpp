// The application hook table. On the switch the feature software fills it;
// on the simulated switch it starts empty and tests or tools fill slots.
#include <algorithm>
#include <iterator>

#include "platform_core/appintf.h"
#include "platform_sim/sim.h"

extern "C" {

appintf_fn appintf[APPINTF_SLOT_NUM] = {};

void simAppintfClear(void) { std::fill(std::begin(appintf), std::end(appintf), nullptr); }

}  // extern "C"
