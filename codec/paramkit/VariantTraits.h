// The one fixed VARIANT type of each parameter value type, and how a value
// goes into and out of a VARIANT of that type.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <type_traits>

namespace ModuleConfig {

template <class T, class Enable = void>
struct VariantTraits;

template <>
struct VariantTraits<unsigned char> {
    static constexpr VARTYPE vt = VT_UI1;
    static unsigned char Get(const VARIANT& v) { return v.bVal; }
    static void Put(VARIANT* v, unsigned char x) {
        v->vt = vt;
        v->bVal = x;
    }
};

template <>
struct VariantTraits<int> {
    static constexpr VARTYPE vt = VT_INT;
    static int Get(const VARIANT& v) { return v.intVal; }
    static void Put(VARIANT* v, int x) {
        v->vt = vt;
        v->intVal = x;
    }
};

template <>
struct VariantTraits<long> {
    static constexpr VARTYPE vt = VT_I4;
    static long Get(const VARIANT& v) { return v.lVal; }
    static void Put(VARIANT* v, long x) {
        v->vt = vt;
        v->lVal = x;
    }
};

template <>
struct VariantTraits<long long> {
    static constexpr VARTYPE vt = VT_I8;
    static long long Get(const VARIANT& v) { return v.llVal; }
    static void Put(VARIANT* v, long long x) {
        v->vt = vt;
        v->llVal = x;
    }
};

template <>
struct VariantTraits<double> {
    static constexpr VARTYPE vt = VT_R8;
    static double Get(const VARIANT& v) { return v.dblVal; }
    static void Put(VARIANT* v, double x) {
        v->vt = vt;
        v->dblVal = x;
    }
};

// A 32-bit integer kept in an int32_t field (the records of the platform-free
// cores) that travels as VT_I4, as a `long` field does on Windows.
struct I4InInt32Traits {
    static constexpr VARTYPE vt = VT_I4;
    static int32_t Get(const VARIANT& v) { return static_cast<int32_t>(v.lVal); }
    static void Put(VARIANT* v, int32_t x) {
        v->vt = vt;
        v->lVal = static_cast<LONG>(x);
    }
};
static_assert(sizeof(LONG) == sizeof(int32_t), "VT_I4 holds an int32_t");

// A named boolean answers 0 or 1, not VARIANT_TRUE.
template <>
struct VariantTraits<bool> {
    static constexpr VARTYPE vt = VT_BOOL;
    static bool Get(const VARIANT& v) { return v.boolVal != 0; }
    static void Put(VARIANT* v, bool x) {
        v->vt = vt;
        v->boolVal = x ? 1 : 0;
    }
};

// A raw pointer travels as itself; nobody frees it through the VARIANT.
template <>
struct VariantTraits<unsigned char*> {
    static constexpr VARTYPE vt = VT_PTR;
    static unsigned char* Get(const VARIANT& v) { return static_cast<unsigned char*>(v.byref); }
    static void Put(VARIANT* v, unsigned char* x) {
        v->vt = vt;
        v->byref = x;
    }
};

// Enumerations travel as 32-bit integers.
template <class E>
struct VariantTraits<E, std::enable_if_t<std::is_enum<E>::value>> {
    static constexpr VARTYPE vt = VT_I4;
    static E Get(const VARIANT& v) { return static_cast<E>(v.lVal); }
    static void Put(VARIANT* v, E x) {
        v->vt = vt;
        v->lVal = static_cast<LONG>(x);
    }
};

// Converts a VARIANT in place to vt. VT_PTR is no automation type: it only
// ever matches itself and is never handed to the platform's conversion.
inline HRESULT ConvertInPlace(VARIANT* v, VARTYPE vt, bool* converted) {
    *converted = false;
    if (v->vt == vt) return S_OK;
    if (vt == VT_PTR || v->vt == VT_PTR) return DISP_E_TYPEMISMATCH;
    HRESULT hr = VariantChangeType(v, v, 0, vt);
    if (SUCCEEDED(hr)) *converted = true;
    return hr;
}

}  // namespace ModuleConfig
