#pragma once
// How Movra.exe starts when the service Movra is installed: as the service's window, as the
// desktop edition, or not at all, after asking whenever the choice is the administrator's.
#include <windows.h>

#include <optional>
#include <string>

#include "core/text.h"

namespace movra {

enum class Edition { kDesktop, kClient, kQuit };
struct StartChoice {
    Edition edition = Edition::kDesktop;
    HANDLE pipe = INVALID_HANDLE_VALUE;  // kClient: the open pipe to the service
};

// Not installed (or not visible to this user): the desktop edition, asking nothing. Running:
// the pipe opened to it. Stopped: a box offers to start it, to run without it, or to quit. No
// right to the pipe: a box offers to start Movra elevated. A pipe served by another process:
// refused in a box.
StartChoice ChooseEdition();

// "Остановить службу" of the service's window: asks the service control manager, or an
// elevated MovraService.exe when this user may not; says in a box what failed. True when the
// stop was asked for.
bool StopServiceFromWindow(HWND owner);

// The box texts.
extern const Text kServiceStoppedQuestion;
extern const Text kServiceAdminQuestion;

}  // namespace movra
