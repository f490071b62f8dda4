// A stand-in property frame for the page tests: a page site that counts
// status changes, a hidden parent window that holds one page at a time, and
// helpers to read the page's controls and save a picture of it.
#pragma once

#include <ocidl.h>
#include <olectl.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/com/ComPtr.h"

namespace pagehost {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class TestPageSite : public IPropertyPageSite {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }  // lives with its host
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP OnStatusChange(DWORD flags) override;
    STDMETHODIMP GetLocaleID(LCID* id) override;
    STDMETHODIMP GetPageContainer(IUnknown** unk) override;
    STDMETHODIMP TranslateAccelerator(MSG*) override { return S_FALSE; }

    int dirty = 0;
    int validate = 0;
};
#pragma GCC diagnostic pop

// The class ids a filter's ISpecifyPropertyPages lists, in its order.
std::vector<CLSID> PagesOf(IUnknown* filter);

// One page created from its class id, connected to an object and shown in a
// hidden frame window. Everything is undone in reverse order on Close.
class PageHost {
public:
    PageHost() = default;
    PageHost(const PageHost&) = delete;
    PageHost& operator=(const PageHost&) = delete;
    ~PageHost() { Close(); }

    // S_OK when every step succeeded; the failing step's result otherwise.
    HRESULT Open(REFCLSID page, IUnknown* object);
    void Close();

    IPropertyPage* Page() const { return page_.Get(); }
    HWND Dialog() const;
    TestPageSite& Site() { return site_; }

    std::string Text(int control) const;
    void SetText(int control, const char* text) const;
    // Sends the notice a user's click on a button gives.
    void Click(int control) const;
    // Selects the combo box entry with that text and sends the selection notice.
    bool Choose(int control, const char* text) const;
    std::vector<std::string> ComboItems(int control) const;
    std::string ComboText(int control) const;
    bool Enabled(int control) const;

    // Shows the frame for a moment and writes its picture as a 24-bit BMP.
    bool SaveShot(const std::string& path) const;

private:
    com::ComPtr<IPropertyPage> page_;
    TestPageSite site_;
    HWND frame_ = NULL;
    bool activated_ = false;
    bool connected_ = false;
    bool sited_ = false;
};

// Handles sent and posted messages of this thread until none is left, for
// at least the given time.
void Pump(DWORD ms = 0);

}  // namespace pagehost
