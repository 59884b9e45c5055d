#pragma once
// The TI server's automation interface as laid out in its vtable. Both our adapter (caller) and
// TiSim.dll (server) use this one declaration, so the two always agree on slots and arguments.
// VARIANT arguments go by value, results come back through a VARIANT pointer.
#include <windows.h>

#include <oaidl.h>
#include <objbase.h>

namespace movra::com {

// {385D6E60-1ACB-4097-B428-C766661C1E9D}
inline constexpr CLSID kTiServerClsid = {
    0x385D6E60, 0x1ACB, 0x4097, {0xB4, 0x28, 0xC7, 0x66, 0x66, 0x1C, 0x1E, 0x9D}};
// {AA0B5820-94A5-43D8-831C-55BEC20F102B}
inline constexpr IID kTiServerIid = {
    0xAA0B5820, 0x94A5, 0x43D8, {0x83, 0x1C, 0x55, 0xBE, 0xC2, 0x0F, 0x10, 0x2B}};

// Class context of the server object: in-process server and handler, local and remote server.
inline constexpr DWORD kTiClassContext = 0x17;

// Fixed arguments of the calls Movra makes.
inline constexpr int kListUsersWhat = 19;
inline constexpr int kSetPropertyCommit = 1;

// Slots that Movra never calls; the server answers them with E_NOTIMPL. Declared without
// arguments: on x64 the caller cleans the stack, so a stray call cannot unbalance it.
#define MOVRA_TI_SLOT(n)                  \
    virtual HRESULT __stdcall Slot##n() { \
        return E_NOTIMPL;                 \
    }

struct ITiServer : public IDispatch {
    MOVRA_TI_SLOT(7)
    MOVRA_TI_SLOT(8)
    // slot 9
    virtual HRESULT __stdcall ListUsers(int what, VARIANT from, VARIANT count, int flags,
                                        VARIANT* result) = 0;
    MOVRA_TI_SLOT(10)
    MOVRA_TI_SLOT(11)
    MOVRA_TI_SLOT(12)
    MOVRA_TI_SLOT(13)
    MOVRA_TI_SLOT(14)
    MOVRA_TI_SLOT(15)
    MOVRA_TI_SLOT(16)
    MOVRA_TI_SLOT(17)
    MOVRA_TI_SLOT(18)
    MOVRA_TI_SLOT(19)
    MOVRA_TI_SLOT(20)
    MOVRA_TI_SLOT(21)
    MOVRA_TI_SLOT(22)
    MOVRA_TI_SLOT(23)
    MOVRA_TI_SLOT(24)
    MOVRA_TI_SLOT(25)
    MOVRA_TI_SLOT(26)
    MOVRA_TI_SLOT(27)
    MOVRA_TI_SLOT(28)
    MOVRA_TI_SLOT(29)
    MOVRA_TI_SLOT(30)
    MOVRA_TI_SLOT(31)
    MOVRA_TI_SLOT(32)
    MOVRA_TI_SLOT(33)
    MOVRA_TI_SLOT(34)
    MOVRA_TI_SLOT(35)
    MOVRA_TI_SLOT(36)
    MOVRA_TI_SLOT(37)
    MOVRA_TI_SLOT(38)
    MOVRA_TI_SLOT(39)
    MOVRA_TI_SLOT(40)
    MOVRA_TI_SLOT(41)
    // slot 42
    virtual HRESULT __stdcall Login(VARIANT password, VARIANT* result) = 0;
    MOVRA_TI_SLOT(43)
    MOVRA_TI_SLOT(44)
    // slot 45
    virtual HRESULT __stdcall GetUserInfo(VARIANT name, VARIANT* result) = 0;
    MOVRA_TI_SLOT(46)
    MOVRA_TI_SLOT(47)
    MOVRA_TI_SLOT(48)
    MOVRA_TI_SLOT(49)
    MOVRA_TI_SLOT(50)
    MOVRA_TI_SLOT(51)
    MOVRA_TI_SLOT(52)
    // slot 53
    virtual HRESULT __stdcall GetProperty(int kind, VARIANT object, VARIANT property,
                                          VARIANT* result) = 0;
    // slot 54
    virtual HRESULT __stdcall SetProperty(int kind, VARIANT object, VARIANT property, VARIANT value,
                                          int commit) = 0;
    // A few more, so a caller built against a longer interface meets E_NOTIMPL, not garbage.
    MOVRA_TI_SLOT(55)
    MOVRA_TI_SLOT(56)
    MOVRA_TI_SLOT(57)
    MOVRA_TI_SLOT(58)
    MOVRA_TI_SLOT(59)
};

#undef MOVRA_TI_SLOT

// What every server object of ours answers as IDispatch: no type information and no late
// binding, as callers bind to the vtable.
class TiServerObject : public ITiServer {
  public:
    HRESULT __stdcall GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT __stdcall GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }
    HRESULT __stdcall GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT __stdcall Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                             UINT*) override {
        return E_NOTIMPL;
    }
};

// Number of vtable entries of ITiServer (slots 0..59).
inline constexpr int kTiSlotCount = 60;

}  // namespace movra::com
