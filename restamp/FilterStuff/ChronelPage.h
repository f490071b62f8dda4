// The time marker's about page: name, version and logo, and a tree of what
// the filter detected (the input's format, its output streams below it).
#pragma once

#include "platform/com/ComPtr.h"
#include "platform/dshow/BaseClasses.h"
#include "restamp/FilterStuff/ChronelIds.h"

#include <commctrl.h>

// One "SysTreeView32" child window of the page.
class CDFTreeView {
public:
    CDFTreeView() = default;
    CDFTreeView(const CDFTreeView&) = delete;
    CDFTreeView& operator=(const CDFTreeView&) = delete;
    ~CDFTreeView() { Destroy(); }

    bool Create(HWND parent, const RECT& rect, int controlId);
    // The new item, or null; parent TVI_ROOT for a root item.
    HTREEITEM Insert(const char* text, HTREEITEM parent);
    void Destroy();
    HWND Window() const { return hwnd_; }

private:
    HWND hwnd_ = NULL;
};

class CDmxStrmPropPag : public CBasePropertyPage {
public:
    static CUnknown* WINAPI CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);

    HRESULT OnConnect(IUnknown* object) override;
    HRESULT OnDisconnect() override;
    HRESULT OnDeactivate() override;
    INT_PTR OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) override;
    STDMETHODIMP IsPageDirty() override { return dirty_ ? S_OK : S_FALSE; }
    HRESULT OnApplyChanges() override { return S_OK; }

private:
    explicit CDmxStrmPropPag(LPUNKNOWN pUnk);
    ~CDmxStrmPropPag() override;

    void Fill();
    void FillTree();

    com::ComPtr<IAMStreamSelect> streams_;
    com::ComPtr<IVexoParserSettings> parser_;
    HBITMAP logo_ = NULL;
    bool dirty_ = false;
    CDFTreeView tree_;
};
