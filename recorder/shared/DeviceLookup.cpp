#include "recorder/shared/DeviceLookup.h"

#include <oleauto.h>

#include "recorder/shared/TextCodePage.h"

namespace capture {

namespace {

// Walks the monikers of a category; `visit` returns false to stop.
template <class Visit>
void ForEachDevice(REFCLSID category, Visit visit) {
    com::ComPtr<ICreateDevEnum> devices;
    if (FAILED(::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                  devices.PutVoid())))
        return;
    com::ComPtr<IEnumMoniker> monikers;
    // S_FALSE: the category is empty.
    if (devices->CreateClassEnumerator(category, monikers.Put(), 0) != S_OK || !monikers) return;
    com::ComPtr<IMoniker> moniker;
    bool more = true;
    while (more && monikers->Next(1, moniker.Put(), nullptr) == S_OK) {
        com::ComPtr<IPropertyBag> bag;
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid()))) continue;
        VARIANT name;
        ::VariantInit(&name);
        if (SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR && name.bstrVal)
            more = visit(moniker.Get(), std::wstring(name.bstrVal));
        ::VariantClear(&name);
    }
}

}  // namespace

com::ComPtr<IBaseFilter> FindFilterByFriendlyName(REFCLSID category, const std::wstring& name) {
    com::ComPtr<IBaseFilter> found;
    ForEachDevice(category, [&](IMoniker* moniker, const std::wstring& friendly) {
        if (friendly != name) return true;
        if (FAILED(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, found.PutVoid()))) found = nullptr;
        return false;
    });
    return found;
}

com::ComPtr<IPin> FindPinByName(IBaseFilter* filter, PIN_DIRECTION direction, const std::wstring& name) {
    com::ComPtr<IEnumPins> pins;
    if (!filter || FAILED(filter->EnumPins(pins.Put())) || !pins) return {};
    com::ComPtr<IPin> pin;
    while (pins->Next(1, pin.Put(), nullptr) == S_OK) {
        PIN_INFO info{};
        if (FAILED(pin->QueryPinInfo(&info))) continue;
        if (info.pFilter) info.pFilter->Release();
        if (info.dir == direction && name == info.achName) return pin;
    }
    return {};
}

com::ComPtr<IPin> FindPinByIndex(IBaseFilter* filter, PIN_DIRECTION direction, int index) {
    com::ComPtr<IEnumPins> pins;
    if (!filter || FAILED(filter->EnumPins(pins.Put())) || !pins) return {};
    com::ComPtr<IPin> pin;
    int seen = 0;
    while (pins->Next(1, pin.Put(), nullptr) == S_OK) {
        PIN_DIRECTION dir;
        if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == direction && seen++ == index) return pin;
    }
    return {};
}

std::vector<std::string> ListDeviceNames(REFCLSID category) {
    std::vector<std::string> names;
    ForEachDevice(category, [&](IMoniker*, const std::wstring& friendly) {
        names.push_back(Narrow(friendly).substr(0, 255));
        return names.size() < 10;
    });
    return names;
}

}  // namespace capture
