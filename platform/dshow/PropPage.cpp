#include "platform/dshow/PropPage.h"

CBasePropertyPage::CBasePropertyPage(LPCTSTR pName, LPUNKNOWN pUnk, int DialogId, int TitleId)
    : CUnknown(pName, pUnk),
      m_pPageSite(NULL),
      m_hwnd(NULL),
      m_Dlg(NULL),
      m_bDirty(FALSE),
      m_TitleId(TitleId),
      m_DialogId(DialogId),
      m_bObjectSet(FALSE) {}

CBasePropertyPage::CBasePropertyPage(LPCSTR, LPUNKNOWN pUnk, int DialogId, int TitleId)
    : CBasePropertyPage(static_cast<LPCTSTR>(NULL), pUnk, DialogId, TitleId) {}

CBasePropertyPage::~CBasePropertyPage() {
    if (m_hwnd) DestroyWindow(m_hwnd);
    if (m_pPageSite) m_pPageSite->Release();
}

STDMETHODIMP CBasePropertyPage::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (IsEqualIID(riid, IID_IPropertyPage)) return GetInterface(static_cast<IPropertyPage*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) CBasePropertyPage::NonDelegatingAddRef() {
    return CUnknown::NonDelegatingAddRef();
}

STDMETHODIMP_(ULONG) CBasePropertyPage::NonDelegatingRelease() {
    LONG lRef = InterlockedDecrement(&m_cRef);
    if (lRef == 0) {
        m_cRef++;
        delete this;
        return 0;
    }
    return static_cast<ULONG>(lRef);
}

INT_PTR CBasePropertyPage::OnReceiveMessage(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

INT_PTR CALLBACK CBasePropertyPage::DialogProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    CBasePropertyPage* pPage;
    if (uMsg == WM_INITDIALOG) {
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        pPage = reinterpret_cast<CBasePropertyPage*>(lParam);
        if (pPage == NULL) return FALSE;
        pPage->m_Dlg = hwnd;
    } else {
        pPage = reinterpret_cast<CBasePropertyPage*>(GetWindowLongPtrW(hwnd, DWLP_USER));
        if (pPage == NULL) return FALSE;
    }
    return pPage->OnReceiveMessage(hwnd, uMsg, wParam, lParam);
}

STDMETHODIMP CBasePropertyPage::SetObjects(ULONG cObjects, LPUNKNOWN* ppUnk) {
    if (cObjects == 1) {
        if (ppUnk == NULL || *ppUnk == NULL) return E_POINTER;
        m_bObjectSet = TRUE;
        return OnConnect(*ppUnk);
    }
    if (cObjects == 0) {
        m_bObjectSet = FALSE;
        return OnDisconnect();
    }
    return E_UNEXPECTED;
}

STDMETHODIMP CBasePropertyPage::SetPageSite(LPPROPERTYPAGESITE pPageSite) {
    if (pPageSite) {
        if (m_pPageSite) return E_UNEXPECTED;
        m_pPageSite = pPageSite;
        m_pPageSite->AddRef();
    } else {
        if (m_pPageSite == NULL) return E_UNEXPECTED;
        m_pPageSite->Release();
        m_pPageSite = NULL;
    }
    return NOERROR;
}

STDMETHODIMP CBasePropertyPage::Activate(HWND hwndParent, LPCRECT prect, BOOL) {
    CheckPointer(prect, E_POINTER);
    if (!m_bObjectSet || m_hwnd != NULL) return E_UNEXPECTED;
    m_hwnd = CreateDialogParamW(AMGetModuleInstance(), MAKEINTRESOURCEW(m_DialogId), hwndParent, DialogProc,
                                reinterpret_cast<LPARAM>(this));
    if (m_hwnd == NULL) return E_OUTOFMEMORY;
    OnActivate();
    Move(prect);
    return Show(SW_SHOWNORMAL);
}

STDMETHODIMP CBasePropertyPage::Deactivate() {
    if (m_hwnd == NULL) return E_UNEXPECTED;
    // Keyboard focus must leave the page before it goes.
    LONG_PTR ex = GetWindowLongPtrW(m_hwnd, GWL_EXSTYLE);
    SetWindowLongPtrW(m_hwnd, GWL_EXSTYLE, ex & ~WS_EX_CONTROLPARENT);
    OnDeactivate();
    DestroyWindow(m_hwnd);
    m_hwnd = NULL;
    m_Dlg = NULL;
    return NOERROR;
}

STDMETHODIMP CBasePropertyPage::GetPageInfo(LPPROPPAGEINFO pPageInfo) {
    CheckPointer(pPageInfo, E_POINTER);
    WCHAR title[256] = L"";
    LoadStringW(AMGetModuleInstance(), static_cast<UINT>(m_TitleId), title, 256);
    HRESULT hr = AMGetWideString(title, &pPageInfo->pszTitle);
    if (FAILED(hr)) return hr;
    pPageInfo->cb = sizeof(PROPPAGEINFO);
    pPageInfo->pszDocString = NULL;
    pPageInfo->pszHelpFile = NULL;
    pPageInfo->dwHelpContext = 0;
    // A usable default when the dialog cannot be measured.
    pPageInfo->size.cx = 340;
    pPageInfo->size.cy = 150;
    GetDialogSize(m_DialogId, DialogProc, 0, &pPageInfo->size);
    return NOERROR;
}

STDMETHODIMP CBasePropertyPage::Show(UINT nCmdShow) {
    if (m_hwnd == NULL) return E_UNEXPECTED;
    if (nCmdShow != SW_SHOW && nCmdShow != SW_SHOWNORMAL && nCmdShow != SW_HIDE) return E_INVALIDARG;
    ShowWindow(m_hwnd, static_cast<int>(nCmdShow));
    InvalidateRect(m_hwnd, NULL, TRUE);
    return NOERROR;
}

STDMETHODIMP CBasePropertyPage::Move(LPCRECT prect) {
    CheckPointer(prect, E_POINTER);
    if (m_hwnd == NULL) return E_UNEXPECTED;
    MoveWindow(m_hwnd, prect->left, prect->top, prect->right - prect->left, prect->bottom - prect->top, TRUE);
    return NOERROR;
}

STDMETHODIMP CBasePropertyPage::Apply() {
    if (!m_bObjectSet || m_pPageSite == NULL) return E_UNEXPECTED;
    if (!m_bDirty) return NOERROR;
    HRESULT hr = OnApplyChanges();
    if (SUCCEEDED(hr)) m_bDirty = FALSE;
    return hr;
}

BOOL WINAPI GetDialogSize(int iResourceID, DLGPROC pDlgProc, LPARAM lParam, SIZE* pResult) {
    HWND hwnd =
        CreateDialogParamW(AMGetModuleInstance(), MAKEINTRESOURCEW(iResourceID), GetDesktopWindow(), pDlgProc, lParam);
    if (hwnd == NULL) return FALSE;
    RECT rc;
    GetWindowRect(hwnd, &rc);
    pResult->cx = rc.right - rc.left;
    pResult->cy = rc.bottom - rc.top;
    DestroyWindow(hwnd);
    return TRUE;
}
