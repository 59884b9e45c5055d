#pragma once
// Entry points TiSim.dll exports beside the four COM ones, for its registration tool and for
// tests that load the DLL themselves.
#include <windows.h>

// Flags of TiSimRegister.
enum : DWORD {
    kTiSimUnregister = 0x1,  // remove instead of add
    kTiSimMachine = 0x2,     // HKLM\Software\Classes (all users; needs rights on Windows)
    kTiSimUser = 0x4,        // HKCU\Software\Classes
    kTiSimForce = 0x8,       // register even where the CLSID names another server
};

// Neither kTiSimMachine nor kTiSimUser: per user on Windows, machine-wide under Wine (which does
// not look up per-user classes). Unregistering without either looks at both places.
using TiSimRegisterFn = HRESULT(__stdcall*)(DWORD flags);
// Replaces the process-wide simulator with one loaded from `path` (null: the default place).
// Objects made before keep the simulator they were made with.
using TiSimLoadScenarioFn = HRESULT(__stdcall*)(const wchar_t* path);
// Moves the simulated time of the process-wide simulator forward.
using TiSimAdvanceFn = HRESULT(__stdcall*)(double seconds);

// Registration refused: the CLSID already names another server (SELFREG_E_CLASS).
constexpr HRESULT kTiSimForeignServer = static_cast<HRESULT>(0x80040201);
