// One row of a filter's parameter table.
#pragma once

#include <windows.h>

#include <cstddef>

namespace ModuleConfig {

class CBaseParam;
class CModuleConfig;

// I4 binds a `long` field, I4InInt32 an int32_t field (a platform-free
// core's record); both travel as VT_I4.
enum class ParamKind { UI1, Int, I4, I4InInt32, I8, R8, Ptr, Str };

struct NamedValue {
    const char* name;
    long long value;
};

struct ParamSpec {
    const GUID* id;
    const char* name;
    ParamKind kind;
    bool readOnly;
    bool visible;
    size_t offset;  // of the bound field in the settings record
    long long defaultValue;
    double defaultReal;
    const wchar_t* defaultText;
    bool hasRange;
    long long min, max, step;
    const NamedValue* values;  // in display order
    size_t valueCount;
};

// Creates the parameter a row describes, bound into record.
CBaseParam* MakeParam(CModuleConfig* owner, const ParamSpec& row, void* record);

}  // namespace ModuleConfig
