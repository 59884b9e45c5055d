#pragma once
// Conversions between the core's Variant and the platform's VARIANT, shared by the adapter and
// TiSim.dll. Reading a VARIANT never goes past a SAFEARRAY's bounds; kinds the core cannot hold
// raise ConversionError.
#include <windows.h>

#include <oaidl.h>

#include "engine/tiserver.h"

namespace movra::com {

// Owns a VARIANT and clears it (freeing BSTRs and arrays) when it goes.
class VariantHolder {
  public:
    VariantHolder();
    ~VariantHolder();
    VariantHolder(const VariantHolder&) = delete;
    VariantHolder& operator=(const VariantHolder&) = delete;
    VARIANT* get() { return &v_; }
    const VARIANT& operator*() const { return v_; }
    // Clears and hands out the address, for an out argument.
    VARIANT* out();

  private:
    VARIANT v_;
};

// Builds `out` (which must be empty or cleared) from `in`. Throws ConversionError for an array
// nested in an array, and std::bad_alloc when a string or array cannot be allocated.
void ToVariant(const Variant& in, VARIANT* out);

// Reads a VARIANT. Integers of every width become I4 (or R8 when they do not fit), VT_INT stays
// Int, reals R8, dates Date, strings BStr, null/empty Empty, a one-dimensional SAFEARRAY of
// VARIANTs or of simple values an Array. By-reference values are followed once. Inside an array,
// an element of a kind the core cannot hold (an object, say) becomes Empty so the elements the
// program does use still arrive; at the top level it raises ConversionError.
Variant FromVariant(const VARIANT& in);

}  // namespace movra::com
