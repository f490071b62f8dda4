#include "codec/paramkit/ParamRow.h"

#include "codec/paramkit/BaseParam.h"

#include <cstdint>
#include <type_traits>

namespace ModuleConfig {
namespace {

template <class T, class Traits = VariantTraits<T>>
CBaseParam* MakeTyped(CModuleConfig* owner, const ParamSpec& row, void* record, T defaultValue) {
    T* field = reinterpret_cast<T*>(static_cast<char*>(record) + row.offset);
    auto* p = new CParamImpl<T, Traits>(owner, row.id, row.readOnly, row.name, row.visible, field, defaultValue);
    if constexpr (!std::is_pointer<T>::value) {
        if (row.hasRange)
            p->SetValidator(
                new CParamRange<T, Traits>(static_cast<T>(row.min), static_cast<T>(row.max), static_cast<T>(row.step)));
        for (size_t i = 0; i < row.valueCount; ++i)
            p->AddValidValue(new CLimitImpl<T, Traits>(row.values[i].name, static_cast<T>(row.values[i].value)));
    }
    return p;
}

}  // namespace

CBaseParam* MakeParam(CModuleConfig* owner, const ParamSpec& row, void* record) {
    switch (row.kind) {
        case ParamKind::UI1:
            return MakeTyped<unsigned char>(owner, row, record, static_cast<unsigned char>(row.defaultValue));
        case ParamKind::Int:
            return MakeTyped<int>(owner, row, record, static_cast<int>(row.defaultValue));
        case ParamKind::I4:
            return MakeTyped<long>(owner, row, record, static_cast<long>(row.defaultValue));
        case ParamKind::I4InInt32:
            return MakeTyped<int32_t, I4InInt32Traits>(owner, row, record, static_cast<int32_t>(row.defaultValue));
        case ParamKind::I8:
            return MakeTyped<long long>(owner, row, record, row.defaultValue);
        case ParamKind::R8:
            return MakeTyped<double>(owner, row, record, row.defaultReal);
        case ParamKind::Ptr:
            return MakeTyped<unsigned char*>(owner, row, record, nullptr);
        case ParamKind::Str: {
            BSTR* field = reinterpret_cast<BSTR*>(static_cast<char*>(record) + row.offset);
            return new CParamStr(owner, row.id, row.readOnly, field, row.defaultText, row.name, row.visible);
        }
    }
    return nullptr;
}

}  // namespace ModuleConfig
