#pragma once
// Copying what a view shows out of the live model in one step.
#include <cstdint>

#include "app/app_port.h"
#include "core/model.h"

namespace movra {

// Fills `out` from the model under one hold of its lock (taken here), reusing out's storage,
// with `connState` as the connection state.
void CopySnapshot(Model& m, uint32_t connState, AppSnapshot& out);

}  // namespace movra
