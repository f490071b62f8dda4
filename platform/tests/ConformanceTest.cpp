// The same checks run against filters of the platform, against filters built
// on our base classes and against every filter DLL the project ships: they must
// behave alike.
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "platform/tests/TestFilters.h"

namespace {

struct Target {
    const char* name;
    bool ours;
    std::function<HRESULT(IUnknown* outer, IUnknown** ppInner)> create;  // IUnknown of a new object
    // Our filter DLL in the build's bin folder; null for filters in this program.
    const wchar_t* dll = nullptr;
    // An interface the filter does not offer.
    const IID* refused = &IID_IFileSinkFilter;
};

// {6C1F0E52-8B3D-4A9E-B7F4-2D5A9C0E1B73}: asked of filters that offer
// IFileSinkFilter; nothing answers it.
const IID kNoSuchInterface = {0x6c1f0e52, 0x8b3d, 0x4a9e, {0xb7, 0xf4, 0x2d, 0x5a, 0x9c, 0x0e, 0x1b, 0x73}};

HRESULT CreatePlatform(REFCLSID clsid, IUnknown* outer, IUnknown** pp) {
    return CoCreateInstance(clsid, outer, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(pp));
}

// Ours are made through the class factory, as a DLL's client would.
HRESULT CreateOurs(REFCLSID clsid, IUnknown* outer, IUnknown** pp) {
    IClassFactory* pFactory = nullptr;
    HRESULT hr = DllGetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&pFactory));
    if (FAILED(hr)) return hr;
    hr = pFactory->CreateInstance(outer, IID_IUnknown, reinterpret_cast<void**>(pp));
    pFactory->Release();
    return hr;
}

// The build's bin folder: this program lives in <build>/platform/tests.
std::wstring BinFolder() {
    wchar_t path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n == MAX_PATH) return std::wstring();
    std::wstring folder(path, n);
    for (int up = 0; up < 3; ++up) {
        const size_t slash = folder.find_last_of(L"\\/");
        if (slash == std::wstring::npos) return std::wstring();
        folder.resize(slash);
    }
    return folder + L"\\bin\\";
}

// The module of one of our DLLs, loaded once and kept for the whole run.
HMODULE OurModule(const wchar_t* dll) {
    const std::wstring path = BinFolder() + dll;
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// A shipped filter, made through its DLL's own class factory.
HRESULT CreateShipped(const wchar_t* dll, const wchar_t* clsidText, IUnknown* outer, IUnknown** pp) {
    *pp = nullptr;
    HMODULE module = OurModule(dll);
    if (!module) return HRESULT_FROM_WIN32(GetLastError());
    auto getClassObject = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
    if (!getClassObject) return HRESULT_FROM_WIN32(GetLastError());
    CLSID clsid;
    HRESULT hr = CLSIDFromString(clsidText, &clsid);
    if (FAILED(hr)) return hr;
    IClassFactory* pFactory = nullptr;
    hr = getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&pFactory));
    if (FAILED(hr)) return hr;
    hr = pFactory->CreateInstance(outer, IID_IUnknown, reinterpret_cast<void**>(pp));
    pFactory->Release();
    return hr;
}

Target Shipped(const char* name, const wchar_t* dll, const wchar_t* clsidText, const IID* refused = nullptr) {
    Target t{name, true, [dll, clsidText](IUnknown* o, IUnknown** p) { return CreateShipped(dll, clsidText, o, p); },
             dll};
    if (refused) t.refused = refused;
    return t;
}

const Target kTargets[] = {
    {"PlatformNullRenderer", false,
     [](IUnknown* o, IUnknown** p) { return CreatePlatform(CLSID_PlatformNullRenderer, o, p); }},
    {"PlatformSmartTee", false, [](IUnknown* o, IUnknown** p) { return CreatePlatform(CLSID_SmartTee, o, p); }},
    {"OurTransform", true, [](IUnknown* o, IUnknown** p) { return CreateOurs(CLSID_TestTransform, o, p); }},
    {"OurSource", true, [](IUnknown* o, IUnknown** p) { return CreateOurs(CLSID_TestSource, o, p); }},
    Shipped("VidrelVideoEncoder", L"Vidrel.ax", L"{00098205-76CC-497E-98A1-6EF10D0BF26C}"),
    Shipped("AudrelAudioEncoder", L"Audrel.ax", L"{15BEBB32-5BB5-42B6-B45A-BA49F78BA19F}"),
    Shipped("MuxoraMultiplexer", L"Muxora.ax", L"{CFD28198-115C-4606-BD64-27A7E0051D2A}"),
    Shipped("ChronelTimeMarker", L"Chronel.ax", L"{3B964703-34CF-44C0-9FA1-ECCB7E96F523}"),
    Shipped("UScreenCapture", L"UScreenCapture.ax", L"{4E7B8C21-7F4A-4C51-9B1E-2D3A6F8E5C90}"),
    Shipped("KorvellSinkFilter", L"KorvellSink.dll", L"{20D356CF-03FB-403A-A215-7A5EF796BB9A}", &kNoSuchInterface),
    Shipped("KorvellAudioCapture", L"KorvellAudioCapture.ax", L"{8F3C2B6A-1D4E-4F70-A5B9-C6D7E8F90A1B}"),
    Shipped("KorvellTestFileSource", L"KorvellTestSource.dll", L"{0BBD6B58-6918-47D8-9AB4-4546DA92F51A}"),
    Shipped("WavDest", L"WavDest.ax", L"{209F757A-1F60-4968-AE77-40D94CBA0847}", &kNoSuchInterface),
};

class Conformance : public ::testing::TestWithParam<Target> {
protected:
    void SetUp() override {
        IUnknown* pUnk = nullptr;
        HRESULT hr = GetParam().create(nullptr, &pUnk);
        ASSERT_EQ(S_OK, hr) << GetParam().name;
        ASSERT_EQ(S_OK, pUnk->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter)));
        pUnk->Release();
        ASSERT_EQ(S_OK, filter->EnumPins(&pins));
        for (IPin* p = nullptr; pins->Next(1, &p, nullptr) == S_OK; p->Release()) pinCount++;
        ASSERT_EQ(S_OK, pins->Reset());
        ASSERT_GE(pinCount, 1u);
    }
    void TearDown() override {
        if (pins) pins->Release();
        if (filter) {
            EXPECT_EQ(0u, filter->Release());
        }
    }
    IBaseFilter* filter = nullptr;
    IEnumPins* pins = nullptr;
    ULONG pinCount = 0;
};

TEST_P(Conformance, PinReferencesCountOnTheFilter) {
    const ULONG base = RefCount(filter);

    IPin* pin = nullptr;
    ASSERT_EQ(S_OK, pins->Next(1, &pin, nullptr));
    EXPECT_EQ(base + 1, RefCount(filter)) << "a pin from EnumPins holds the filter";

    PIN_INFO info;
    ASSERT_EQ(S_OK, pin->QueryPinInfo(&info));
    EXPECT_EQ(filter, info.pFilter);
    EXPECT_EQ(base + 2, RefCount(filter)) << "QueryPinInfo references the filter";
    info.pFilter->Release();

    IPin* found = nullptr;
    ASSERT_EQ(S_OK, filter->FindPin(info.achName, &found));
    EXPECT_EQ(pin, found);
    EXPECT_EQ(base + 2, RefCount(filter)) << "FindPin references the pin";
    found->Release();

    IPin* missing = nullptr;
    EXPECT_EQ(VFW_E_NOT_FOUND, filter->FindPin(L"no such pin", &missing));
    EXPECT_EQ(nullptr, missing);
    if (GetParam().ours) {
        missing = reinterpret_cast<IPin*>(1);
        EXPECT_EQ(VFW_E_NOT_FOUND, filter->FindPin(L"no such pin", &missing));
        EXPECT_EQ(nullptr, missing) << "ours clears the out-parameter on failure";
        EXPECT_EQ(E_POINTER, filter->FindPin(info.achName, nullptr));
    }

    pin->Release();
    EXPECT_EQ(base, RefCount(filter));
}

TEST_P(Conformance, EnumPinsNextSkipResetClone) {
    IPin* arr[8] = {};
    ULONG fetched = 99;

    EXPECT_EQ(E_POINTER, pins->Next(1, nullptr, &fetched));
    EXPECT_EQ(E_INVALIDARG, pins->Next(2, arr, nullptr)) << "count above 1 needs a fetched count";

    // Asking for more than there are: all of them, S_FALSE.
    ASSERT_EQ(S_FALSE, pins->Next(pinCount + 1, arr, &fetched));
    EXPECT_EQ(pinCount, fetched);
    for (ULONG i = 0; i < fetched; i++) arr[i]->Release();

    // At the end.
    fetched = 99;
    EXPECT_EQ(S_FALSE, pins->Next(1, arr, &fetched));
    EXPECT_EQ(0u, fetched);
    EXPECT_EQ(S_FALSE, pins->Skip(1));

    ASSERT_EQ(S_OK, pins->Reset());
    EXPECT_EQ(S_OK, pins->Next(0, arr, &fetched));
    EXPECT_EQ(0u, fetched);
    EXPECT_EQ(S_OK, pins->Skip(pinCount - 1));

    EXPECT_EQ(E_POINTER, pins->Clone(nullptr));
    IEnumPins* clone = nullptr;
    ASSERT_EQ(S_OK, pins->Clone(&clone));
    // The clone starts where the original is: one pin left for each.
    for (IEnumPins* e : {pins, clone}) {
        ASSERT_EQ(S_OK, e->Next(1, arr, nullptr));
        arr[0]->Release();
        EXPECT_EQ(S_FALSE, e->Next(1, arr, &fetched));
    }
    clone->Release();

    ASSERT_EQ(S_OK, pins->Reset());
    ASSERT_EQ(S_OK, pins->Skip(pinCount));
    EXPECT_EQ(S_FALSE, pins->Skip(1));
}

TEST_P(Conformance, QueryInterfaceIdentityAndRefusal) {
    IUnknown *u1 = nullptr, *u2 = nullptr;
    IPersist* persist = nullptr;
    ASSERT_EQ(S_OK, filter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&u1)));
    ASSERT_EQ(S_OK, filter->QueryInterface(IID_IPersist, reinterpret_cast<void**>(&persist)));
    ASSERT_EQ(S_OK, persist->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&u2)));
    EXPECT_EQ(u1, u2) << "one IUnknown per object";
    IMediaFilter* mf = nullptr;
    EXPECT_EQ(S_OK, filter->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(&mf)));
    if (mf) mf->Release();
    u1->Release();
    u2->Release();
    persist->Release();

    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, filter->QueryInterface(*GetParam().refused, &p));
    EXPECT_EQ(nullptr, p);

    IPin* pin = nullptr;
    ASSERT_EQ(S_OK, pins->Next(1, &pin, nullptr));
    p = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, pin->QueryInterface(IID_IBaseFilter, &p)) << "a pin is not its filter";
    EXPECT_EQ(nullptr, p);
    IUnknown* pinUnk = nullptr;
    ASSERT_EQ(S_OK, pin->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pinUnk)));
    EXPECT_NE(static_cast<IUnknown*>(filter), pinUnk);
    pinUnk->Release();
    pin->Release();
}

TEST_P(Conformance, PinQueriesAndMediaTypeEnumeration) {
    IPin* pin = nullptr;
    ASSERT_EQ(S_OK, pins->Next(1, &pin, nullptr));
    if (GetParam().ours) {
        EXPECT_EQ(E_POINTER, pin->QueryDirection(nullptr));
        EXPECT_EQ(E_POINTER, pin->QueryPinInfo(nullptr));
        EXPECT_EQ(E_POINTER, pin->ConnectedTo(nullptr));
    }
    IPin* peer = reinterpret_cast<IPin*>(1);
    EXPECT_EQ(VFW_E_NOT_CONNECTED, pin->ConnectedTo(&peer));
    EXPECT_EQ(nullptr, peer);
    AM_MEDIA_TYPE mt;
    EXPECT_EQ(VFW_E_NOT_CONNECTED, pin->ConnectionMediaType(&mt));

    LPWSTR id = nullptr;
    ASSERT_EQ(S_OK, pin->QueryId(&id));
    IPin* byId = nullptr;
    EXPECT_EQ(S_OK, filter->FindPin(id, &byId)) << "QueryId names a pin that FindPin finds";
    EXPECT_EQ(pin, byId);
    if (byId) byId->Release();
    CoTaskMemFree(id);

    IEnumMediaTypes* types = nullptr;
    ASSERT_EQ(S_OK, pin->EnumMediaTypes(&types));
    AM_MEDIA_TYPE* arr[4] = {};
    ULONG fetched = 0;
    if (GetParam().ours) {
        EXPECT_EQ(E_INVALIDARG, types->Next(2, arr, nullptr));
        EXPECT_EQ(E_POINTER, types->Next(1, nullptr, &fetched));
    }
    HRESULT hr = types->Next(4, arr, &fetched);
    EXPECT_TRUE(hr == S_FALSE && fetched < 4) << std::hex << hr;
    for (ULONG i = 0; i < fetched; i++) DeleteMediaType(arr[i]);
    EXPECT_EQ(S_FALSE, types->Next(1, arr, &fetched));
    EXPECT_EQ(0u, fetched);
    if (GetParam().ours) {
        EXPECT_EQ(E_POINTER, types->Clone(nullptr));
    }
    IEnumMediaTypes* clone = nullptr;
    EXPECT_EQ(S_OK, types->Clone(&clone));
    if (clone) clone->Release();
    types->Release();
    pin->Release();
}

// An outer object that aggregates the filter.
class Outer : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return inner->QueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&ref); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&ref); }
    LONG ref = 1;
    IUnknown* inner = nullptr;
};

TEST_P(Conformance, Aggregation) {
    Outer outer;
    ASSERT_EQ(S_OK, GetParam().create(&outer, &outer.inner));
    EXPECT_EQ(1, outer.ref) << "creating the inner object does not keep the outer one";

    IBaseFilter* f = nullptr;
    ASSERT_EQ(S_OK, outer.QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&f)));
    EXPECT_EQ(2, outer.ref) << "the interface counts on the outer object";

    IUnknown* u = nullptr;
    ASSERT_EQ(S_OK, f->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&u)));
    EXPECT_EQ(static_cast<IUnknown*>(&outer), u) << "IUnknown comes from the outer object";
    u->Release();

    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, f->QueryInterface(*GetParam().refused, &p));
    EXPECT_EQ(nullptr, p);

    IUnknown* innerAgain = nullptr;
    ASSERT_EQ(S_OK, outer.inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&innerAgain)));
    EXPECT_EQ(outer.inner, innerAgain) << "the inner IUnknown does not delegate";
    innerAgain->Release();

    f->Release();
    EXPECT_EQ(1, outer.ref);
    EXPECT_EQ(0u, outer.inner->Release());
}

// A shipped DLL may be unloaded once its last object is gone: every reference
// the filter and its pins took on the module was given back.
TEST_P(Conformance, ModuleUnloadsAfterTheLastRelease) {
    if (!GetParam().dll) GTEST_SKIP() << "not a DLL of ours";
    HMODULE module = OurModule(GetParam().dll);
    ASSERT_NE(nullptr, module);
    auto canUnloadNow =
        reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void (*)()>(GetProcAddress(module, "DllCanUnloadNow")));
    ASSERT_NE(nullptr, canUnloadNow);
    IPin* pin = nullptr;
    ASSERT_EQ(S_OK, pins->Next(1, &pin, nullptr));
    EXPECT_EQ(S_FALSE, canUnloadNow()) << "a live filter keeps the module";
    pin->Release();
    pins->Release();
    pins = nullptr;
    EXPECT_EQ(0u, filter->Release());
    filter = nullptr;
    EXPECT_EQ(S_OK, canUnloadNow());
}

INSTANTIATE_TEST_SUITE_P(Filters, Conformance, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<Target>& i) { return std::string(i.param.name); });

TEST(ClassFactory, RefusesWhatItCannotMake) {
    IClassFactory* pFactory = nullptr;
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, DllGetClassObject(CLSID_PlatformNullRenderer, IID_IClassFactory, &p));
    EXPECT_EQ(nullptr, p);
    EXPECT_EQ(E_NOINTERFACE, DllGetClassObject(CLSID_TestTransform, IID_IBaseFilter, &p));
    ASSERT_EQ(S_OK, DllGetClassObject(CLSID_TestTransform, IID_IClassFactory, reinterpret_cast<void**>(&pFactory)));
    EXPECT_EQ(S_FALSE, DllCanUnloadNow()) << "a live factory keeps the module";

    Outer outer;
    p = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_NOAGGREGATION, pFactory->CreateInstance(&outer, IID_IBaseFilter, &p))
        << "an outer object must ask for IUnknown";
    EXPECT_EQ(nullptr, p);
    EXPECT_EQ(E_NOINTERFACE, pFactory->CreateInstance(nullptr, IID_IFileSinkFilter, &p));
    EXPECT_EQ(nullptr, p);
    EXPECT_EQ(E_POINTER, pFactory->CreateInstance(nullptr, IID_IBaseFilter, nullptr));

    ASSERT_EQ(S_OK, pFactory->LockServer(TRUE));
    pFactory->Release();
    EXPECT_EQ(S_FALSE, DllCanUnloadNow()) << "a server lock keeps the module";
    ASSERT_EQ(S_OK, DllGetClassObject(CLSID_TestSource, IID_IUnknown, reinterpret_cast<void**>(&pFactory)));
    ASSERT_EQ(S_OK, pFactory->LockServer(FALSE));
    pFactory->Release();
    EXPECT_EQ(S_OK, DllCanUnloadNow());
}

}  // namespace
