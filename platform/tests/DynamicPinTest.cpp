// Flow control of a dynamic output pin and the property page's rules.
#include <gtest/gtest.h>

#include "platform/tests/TestFilters.h"

namespace {

class DynamicFilter : public CBaseFilter {
public:
    class Pin : public CDynamicOutputPin {
    public:
        Pin(DynamicFilter* f, HRESULT* phr) : CDynamicOutputPin(NAME("Dynamic pin"), f, &f->m_lock, phr, L"Out") {}
        HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
        HRESULT DecideBufferSize(IMemAllocator*, ALLOCATOR_PROPERTIES*) override { return S_OK; }
    };
    DynamicFilter() : CBaseFilter(NAME("Dynamic"), nullptr, &m_lock, GUID_NULL) {
        HRESULT hr = S_OK;
        pin = new Pin(this, &hr);
    }
    ~DynamicFilter() override { delete pin; }
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? pin : nullptr; }
    CCritSec m_lock;
    Pin* pin = nullptr;
};

struct StartUsing {
    CDynamicOutputPin* pin;
    HRESULT hr = E_UNEXPECTED;
    static DWORD WINAPI Run(void* pv) {
        auto* s = static_cast<StartUsing*>(pv);
        s->hr = s->pin->StartUsingOutputPin();
        if (SUCCEEDED(s->hr)) s->pin->StopUsingOutputPin();
        return 0;
    }
};

TEST(DynamicOutputPin, BlockWaitsForUsersAndHoldsNewOnes) {
    auto* f = new DynamicFilter;
    f->AddRef();
    IPinFlowControl* flow = nullptr;
    ASSERT_EQ(S_OK, f->pin->QueryInterface(IID_IPinFlowControl, reinterpret_cast<void**>(&flow)));
    EXPECT_EQ(E_INVALIDARG, flow->Block(0x10, nullptr));
    EXPECT_EQ(S_FALSE, flow->Block(0, nullptr)) << "not blocked: nothing to unblock";

    // A user is inside: the block is pending until it leaves.
    ASSERT_EQ(S_OK, f->pin->StartUsingOutputPin());
    HANDLE blocked = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_EQ(S_OK, flow->Block(AM_PIN_FLOW_CONTROL_BLOCK, blocked));
    EXPECT_EQ(VFW_E_PIN_ALREADY_BLOCKED, flow->Block(AM_PIN_FLOW_CONTROL_BLOCK, blocked));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(blocked, 50));
    f->pin->StopUsingOutputPin();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(blocked, 1000)) << "blocked once the user left";

    // A new user on another thread waits until the pin is unblocked.
    StartUsing s{f->pin};
    HANDLE t = CreateThread(nullptr, 0, StartUsing::Run, &s, 0, nullptr);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(t, 100));
    EXPECT_EQ(S_OK, flow->Block(0, nullptr));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(t, 2000));
    EXPECT_EQ(S_OK, s.hr);
    CloseHandle(t);
    CloseHandle(blocked);
    flow->Release();
    EXPECT_EQ(0u, f->Release());
}

class Page : public CBasePropertyPage {
public:
    Page() : CBasePropertyPage(NAME("Page"), nullptr, 9999, 9999) {}
    HRESULT OnConnect(IUnknown*) override {
        connects++;
        return S_OK;
    }
    HRESULT OnDisconnect() override {
        disconnects++;
        return S_OK;
    }
    HRESULT OnApplyChanges() override {
        applies++;
        return S_OK;
    }
    void MakeDirty() { m_bDirty = TRUE; }
    int connects = 0, disconnects = 0, applies = 0;
};

// A page site that only counts references.
class Site : public IPropertyPageSite {
public:
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++ref; }
    STDMETHODIMP_(ULONG) Release() override { return --ref; }
    STDMETHODIMP OnStatusChange(DWORD) override { return S_OK; }
    STDMETHODIMP GetLocaleID(LCID*) override { return E_NOTIMPL; }
    STDMETHODIMP GetPageContainer(IUnknown**) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(MSG*) override { return E_NOTIMPL; }
    ULONG ref = 1;
};

TEST(PropertyPage, ObjectAndSiteRules) {
    auto* page = new Page;
    page->NonDelegatingAddRef();
    IPropertyPage* pp = page;
    Site site;
    RECT rc = {0, 0, 100, 100};

    EXPECT_EQ(E_UNEXPECTED, pp->Activate(nullptr, &rc, FALSE)) << "no object yet";
    EXPECT_EQ(E_UNEXPECTED, pp->Apply());
    EXPECT_EQ(E_UNEXPECTED, pp->SetObjects(2, nullptr));
    EXPECT_EQ(E_POINTER, pp->SetObjects(1, nullptr));
    EXPECT_EQ(E_UNEXPECTED, pp->SetPageSite(nullptr)) << "no site to drop";
    EXPECT_EQ(E_UNEXPECTED, pp->Show(SW_SHOW)) << "not active";

    IUnknown* object = &site;
    ASSERT_EQ(S_OK, pp->SetObjects(1, &object));
    EXPECT_EQ(1, page->connects);
    ASSERT_EQ(S_OK, pp->SetPageSite(&site));
    EXPECT_EQ(2u, site.ref);
    EXPECT_EQ(E_UNEXPECTED, pp->SetPageSite(&site)) << "one site at a time";

    EXPECT_EQ(S_FALSE, pp->IsPageDirty());
    EXPECT_EQ(S_OK, pp->Apply());
    EXPECT_EQ(0, page->applies) << "nothing to apply while clean";
    page->MakeDirty();
    EXPECT_EQ(S_OK, pp->IsPageDirty());
    EXPECT_EQ(S_OK, pp->Apply());
    EXPECT_EQ(1, page->applies);
    EXPECT_EQ(S_FALSE, pp->IsPageDirty());

    PROPPAGEINFO info;
    ASSERT_EQ(S_OK, pp->GetPageInfo(&info));
    EXPECT_NE(nullptr, info.pszTitle);
    EXPECT_GT(info.size.cx, 0);
    CoTaskMemFree(info.pszTitle);
    EXPECT_EQ(E_OUTOFMEMORY, pp->Activate(nullptr, &rc, FALSE)) << "no such dialog resource";

    ASSERT_EQ(S_OK, pp->SetObjects(0, nullptr));
    EXPECT_EQ(1, page->disconnects);
    ASSERT_EQ(S_OK, pp->SetPageSite(nullptr));
    EXPECT_EQ(1u, site.ref);
    EXPECT_EQ(0u, page->NonDelegatingRelease());
}

}  // namespace
