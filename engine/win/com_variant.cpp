#include "engine/win/com_variant.h"

#include <windows.h>

#include <oleauto.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <new>
#include <string>

namespace movra::com {

namespace {

// Arrays may hold arrays; a bound keeps a hostile value from exhausting the stack.
constexpr int kMaxDepth = 8;

Variant IntegerValue(int64_t v) {
    if (v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max()) {
        return Variant::I4(static_cast<int32_t>(v));
    }
    return Variant::R8(static_cast<double>(v));
}

std::string KindName(VARTYPE vt) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "VARIANT type 0x%04X", static_cast<unsigned>(vt));
    return buf;
}

// Element kinds a SAFEARRAY may carry that we read, with the size each element must have.
size_t SimpleElementSize(VARTYPE et) {
    switch (et) {
        case VT_I1:
        case VT_UI1:
            return 1;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            return 2;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_R4:
            return 4;
        case VT_I8:
        case VT_UI8:
        case VT_R8:
        case VT_DATE:
        case VT_CY:
            return 8;
        case VT_BSTR:
            return sizeof(BSTR);
        default:
            return 0;
    }
}

bool Convert(const VARIANT& v, Variant& out, int depth);

Variant ConvertArray(const VARIANT& v, int depth) {
    const VARTYPE et = V_VT(&v) & VT_TYPEMASK;
    SAFEARRAY* sa = V_ARRAY(&v);
    if (sa == nullptr) return Variant::Array({});
    if (depth >= kMaxDepth) throw ConversionError("arrays nested too deeply");
    if (SafeArrayGetDim(sa) != 1) throw ConversionError("array is not one-dimensional");
    VARTYPE stored = VT_EMPTY;
    if (FAILED(SafeArrayGetVartype(sa, &stored)) || stored != et) {
        throw ConversionError("array holds other elements than it claims");
    }
    const size_t want = et == VT_VARIANT ? sizeof(VARIANT) : SimpleElementSize(et);
    if (want == 0 || SafeArrayGetElemsize(sa) != want) {
        throw ConversionError("array of unsupported elements: " + KindName(et));
    }
    LONG lo = 0, hi = -1;
    if (FAILED(SafeArrayGetLBound(sa, 1, &lo)) || FAILED(SafeArrayGetUBound(sa, 1, &hi))) {
        throw ConversionError("array bounds cannot be read");
    }
    std::vector<Variant> items;
    if (hi >= lo) items.reserve(static_cast<size_t>(int64_t{hi} - lo + 1));
    for (int64_t i = lo; i <= hi; ++i) {
        LONG index = static_cast<LONG>(i);
        VariantHolder element;
        HRESULT hr;
        if (et == VT_VARIANT) {
            hr = SafeArrayGetElement(sa, &index, element.get());
        } else {
            // Every non-decimal member of the VARIANT union starts at the same address.
            hr = SafeArrayGetElement(sa, &index, &V_UI1(element.get()));
            if (SUCCEEDED(hr)) V_VT(element.get()) = et;
        }
        if (FAILED(hr))
            throw ConversionError("array element cannot be read", static_cast<int32_t>(hr));
        Variant item;
        if (!Convert(*element, item, depth + 1)) item = Variant{};
        items.push_back(std::move(item));
    }
    return Variant::Array(std::move(items));
}

bool Convert(const VARIANT& v, Variant& out, int depth) {
    const VARTYPE vt = V_VT(&v);
    if (vt & VT_BYREF) {
        if (depth >= kMaxDepth || V_BYREF(&v) == nullptr) return false;
        VariantHolder direct;
        if (FAILED(VariantCopyInd(direct.get(), const_cast<VARIANT*>(&v)))) return false;
        return Convert(*direct, out, depth + 1);
    }
    if (vt & VT_ARRAY) {
        out = ConvertArray(v, depth);
        return true;
    }
    switch (vt) {
        case VT_EMPTY:
        case VT_NULL:
            out = Variant{};
            return true;
        case VT_I1:
            out = Variant::I4(V_I1(&v));
            return true;
        case VT_UI1:
            out = Variant::I4(V_UI1(&v));
            return true;
        case VT_I2:
            out = Variant::I4(V_I2(&v));
            return true;
        case VT_UI2:
            out = Variant::I4(V_UI2(&v));
            return true;
        case VT_BOOL:
            out = Variant::I4(V_BOOL(&v));
            return true;
        case VT_I4:
            out = Variant::I4(V_I4(&v));
            return true;
        case VT_INT:
            out = Variant::Int(V_INT(&v));
            return true;
        case VT_UI4:
            out = IntegerValue(V_UI4(&v));
            return true;
        case VT_UINT:
            out = IntegerValue(V_UINT(&v));
            return true;
        case VT_I8:
            out = IntegerValue(V_I8(&v));
            return true;
        case VT_UI8:
            out = V_UI8(&v) > static_cast<ULONGLONG>(std::numeric_limits<int64_t>::max())
                      ? Variant::R8(static_cast<double>(V_UI8(&v)))
                      : IntegerValue(static_cast<int64_t>(V_UI8(&v)));
            return true;
        case VT_R4:
            out = Variant::R8(V_R4(&v));
            return true;
        case VT_R8:
            out = Variant::R8(V_R8(&v));
            return true;
        case VT_DATE:
            out = Variant::Date(V_DATE(&v));
            return true;
        case VT_CY:
        case VT_DECIMAL: {
            VariantHolder real;
            if (FAILED(VariantChangeType(real.get(), const_cast<VARIANT*>(&v), 0, VT_R8)))
                return false;
            out = Variant::R8(V_R8(real.get()));
            return true;
        }
        case VT_BSTR: {
            const BSTR s = V_BSTR(&v);
            out = s ? Variant::BStr(Text(reinterpret_cast<const char16_t*>(s), SysStringLen(s)))
                    : Variant::BStr(Text());
            return true;
        }
        default:
            return false;
    }
}

}  // namespace

VariantHolder::VariantHolder() {
    VariantInit(&v_);
}
VariantHolder::~VariantHolder() {
    VariantClear(&v_);
}
VARIANT* VariantHolder::out() {
    VariantClear(&v_);
    return &v_;
}

void ToVariant(const Variant& in, VARIANT* out) {
    VariantInit(out);
    switch (in.type) {
        case VarType::Empty:
            return;
        case VarType::I4:
            V_VT(out) = VT_I4;
            V_I4(out) = in.i;
            return;
        case VarType::Int:
            V_VT(out) = VT_INT;
            V_INT(out) = in.i;
            return;
        case VarType::R8:
            V_VT(out) = VT_R8;
            V_R8(out) = in.d;
            return;
        case VarType::Date:
            V_VT(out) = VT_DATE;
            V_DATE(out) = in.d;
            return;
        case VarType::BStr: {
            BSTR s = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(in.s.data()),
                                       static_cast<UINT>(in.s.size()));
            if (s == nullptr) throw std::bad_alloc();
            V_VT(out) = VT_BSTR;
            V_BSTR(out) = s;
            return;
        }
        case VarType::Array: {
            SAFEARRAY* sa = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(in.a.size()));
            if (sa == nullptr) throw std::bad_alloc();
            VARIANT* items = nullptr;
            if (FAILED(SafeArrayAccessData(sa, reinterpret_cast<void**>(&items)))) {
                SafeArrayDestroy(sa);
                throw std::bad_alloc();
            }
            try {
                for (size_t i = 0; i < in.a.size(); ++i) ToVariant(in.a[i], &items[i]);
            } catch (...) {
                SafeArrayUnaccessData(sa);
                SafeArrayDestroy(sa);  // clears the elements built so far
                throw;
            }
            SafeArrayUnaccessData(sa);
            V_VT(out) = VT_ARRAY | VT_VARIANT;
            V_ARRAY(out) = sa;
            return;
        }
    }
    throw ConversionError("value of unknown kind");
}

Variant FromVariant(const VARIANT& in) {
    Variant out;
    if (!Convert(in, out, 0)) {
        throw ConversionError("server value of unsupported kind: " + KindName(V_VT(&in)));
    }
    return out;
}

}  // namespace movra::com
