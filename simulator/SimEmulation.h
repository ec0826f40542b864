// The device's side of a launch emulation: it asks for altitude samples and
// runs its flight logic on them.
#pragma once

#include <cstdint>

struct SimEmulationState {
  int requests = 0;
};
