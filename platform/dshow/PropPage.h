// A property page shown from a dialog resource of the module.
#pragma once

#include "platform/dshow/ComBase.h"

class AM_NOVTABLE CBasePropertyPage : public IPropertyPage, public CUnknown {
public:
    CBasePropertyPage(LPCTSTR pName, LPUNKNOWN pUnk, int DialogId, int TitleId);
    CBasePropertyPage(LPCSTR pName, LPUNKNOWN pUnk, int DialogId, int TitleId);
    ~CBasePropertyPage() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) NonDelegatingRelease() override;
    STDMETHODIMP_(ULONG) NonDelegatingAddRef() override;

    // Overridables.
    virtual HRESULT OnConnect(IUnknown*) { return NOERROR; }
    virtual HRESULT OnDisconnect() { return NOERROR; }
    virtual HRESULT OnActivate() { return NOERROR; }
    virtual HRESULT OnDeactivate() { return NOERROR; }
    virtual HRESULT OnApplyChanges() { return NOERROR; }
    virtual INT_PTR OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

    // IPropertyPage
    STDMETHODIMP SetPageSite(LPPROPERTYPAGESITE pPageSite) override;
    STDMETHODIMP Activate(HWND hwndParent, LPCRECT prect, BOOL fModal) override;
    STDMETHODIMP Deactivate() override;
    STDMETHODIMP GetPageInfo(LPPROPPAGEINFO pPageInfo) override;
    STDMETHODIMP SetObjects(ULONG cObjects, LPUNKNOWN* ppUnk) override;
    STDMETHODIMP Show(UINT nCmdShow) override;
    STDMETHODIMP Move(LPCRECT prect) override;
    STDMETHODIMP IsPageDirty() override { return m_bDirty ? S_OK : S_FALSE; }
    STDMETHODIMP Apply() override;
    STDMETHODIMP Help(LPCOLESTR) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(LPMSG) override { return E_NOTIMPL; }

protected:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

    LPPROPERTYPAGESITE m_pPageSite;
    HWND m_hwnd;  // the page window (null while not active)
    HWND m_Dlg;   // the dialog, known from WM_INITDIALOG on
    BOOL m_bDirty;
    int m_TitleId;
    int m_DialogId;

private:
    BOOL m_bObjectSet;
};

// The size of a dialog resource of the module, measured from a hidden instance.
BOOL WINAPI GetDialogSize(int iResourceID, DLGPROC pDlgProc, LPARAM lParam, SIZE* pResult);
