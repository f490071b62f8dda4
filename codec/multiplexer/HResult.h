// Result codes of the multiplexer's structure operations. The values are the
// platform's HRESULTs so the filter shell can hand them on unchanged.
#pragma once

#include <cstdint>

namespace muxcore {

using HRESULT_T = int32_t;

constexpr HRESULT_T kS_OK = 0;
constexpr HRESULT_T kS_FALSE = 1;
constexpr HRESULT_T kE_NOTIMPL = static_cast<int32_t>(0x80004001u);
constexpr HRESULT_T kE_POINTER = static_cast<int32_t>(0x80004003u);
constexpr HRESULT_T kE_ABORT = static_cast<int32_t>(0x80004004u);
constexpr HRESULT_T kE_FAIL = static_cast<int32_t>(0x80004005u);
constexpr HRESULT_T kE_UNEXPECTED = static_cast<int32_t>(0x8000FFFFu);
constexpr HRESULT_T kE_ACCESSDENIED = static_cast<int32_t>(0x80070005u);
constexpr HRESULT_T kE_OUTOFMEMORY = static_cast<int32_t>(0x8007000Eu);
constexpr HRESULT_T kE_INVALIDARG = static_cast<int32_t>(0x80070057u);

inline bool Failed(HRESULT_T hr) {
    return hr < 0;
}

}  // namespace muxcore
