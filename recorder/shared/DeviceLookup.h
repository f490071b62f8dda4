// Filters found by friendly name in a device category and pins found by
// direction and name or index: what the control program and the engine use
// to assemble their graphs.
#pragma once

#include <dshow.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/com/ComPtr.h"

namespace capture {

com::ComPtr<IBaseFilter> FindFilterByFriendlyName(REFCLSID category, const std::wstring& name);
// The first pin of that direction named exactly `name`; null when none.
com::ComPtr<IPin> FindPinByName(IBaseFilter* filter, PIN_DIRECTION direction, const std::wstring& name);
// The index-th pin of that direction; null when there is none.
com::ComPtr<IPin> FindPinByIndex(IBaseFilter* filter, PIN_DIRECTION direction, int index);
// "FriendlyName"s of a device category, at most 10.
std::vector<std::string> ListDeviceNames(REFCLSID category);

}  // namespace capture
