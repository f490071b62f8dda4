#include "plugin/PropPage.h"

#include <new>
#include <string>

#include "plugin/ScaleFactorStore.h"
#include "plugin/core/ScaleFactor.h"
#include "plugin/resource.h"

namespace {

constexpr int kMaxText = 1024;

}  // namespace

CUnknown* WINAPI CAnveloAudioPluginPropPage::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
    CAnveloAudioPluginPropPage* p = new (std::nothrow) CAnveloAudioPluginPropPage(pUnk);
    if (p == nullptr && phr) *phr = E_OUTOFMEMORY;
    return p;
}

CAnveloAudioPluginPropPage::CAnveloAudioPluginPropPage(LPUNKNOWN pUnk)
    : CBasePropertyPage(NAME("Anvelo_Audio_Plugin PropertyPage"), pUnk, IDD_SCALEFACTOR_PAGE, IDS_PAGE_TITLE) {}

STDMETHODIMP CAnveloAudioPluginPropPage::SetObjects(ULONG cObjects, LPUNKNOWN* ppUnk) {
    if (cObjects == 0) {
        setting_.Reset();
        return CBasePropertyPage::SetObjects(0, NULL);
    }
    CheckPointer(ppUnk, E_POINTER);
    for (ULONG i = 0; i < cObjects; ++i) {
        com::ComPtr<IScaleFactorSetting> found;
        if (ppUnk[i] != NULL && SUCCEEDED(found.QueryFrom(ppUnk[i], IID_IScaleFactorSetting))) {
            setting_ = found;
            return CBasePropertyPage::SetObjects(1, &ppUnk[i]);
        }
    }
    // No object carries the factor: the page shows and stores the registry's.
    setting_.Reset();
    return CBasePropertyPage::SetObjects(1, ppUnk);
}

double CAnveloAudioPluginPropPage::ShownFactor() {
    double factor = 1.0;
    if (setting_ && SUCCEEDED(setting_->GetScaleFactor(&factor))) return factor;
    if (plugin::ReadStoredScaleFactor(&factor)) return factor;
    return 1.0;
}

INT_PTR CAnveloAudioPluginPropPage::OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    switch (uMsg) {
        case WM_INITDIALOG: {
            // Filling the edit is no change of the user's.
            initializing_ = true;
            SetDlgItemTextA(hwnd, IDC_SCALEFACTOR, plugin::FormatScaleFactor(ShownFactor()).c_str());
            initializing_ = false;
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_SCALEFACTOR && HIWORD(wParam) == EN_CHANGE && !initializing_ && !m_bDirty) {
                m_bDirty = TRUE;
                if (m_pPageSite) (void)m_pPageSite->OnStatusChange(PROPPAGESTATUS_DIRTY);
            }
            break;
        case WM_STYLECHANGING:
            // Tabbing must reach the page's controls from the frame.
            if (wParam == static_cast<WPARAM>(GWL_EXSTYLE) && lParam != 0)
                reinterpret_cast<STYLESTRUCT*>(lParam)->styleNew |= WS_EX_CONTROLPARENT;
            break;
        default:
            break;
    }
    return CBasePropertyPage::OnReceiveMessage(hwnd, uMsg, wParam, lParam);
}

HRESULT CAnveloAudioPluginPropPage::OnApplyChanges() {
    char text[kMaxText] = "";
    if (m_Dlg == NULL || GetDlgItemTextA(m_Dlg, IDC_SCALEFACTOR, text, kMaxText) == 0) text[0] = 0;
    std::optional<double> factor = plugin::ParseScaleFactor(text);
    if (!factor) {
        char message[256] = "";
        if (LoadStringA(AMGetModuleInstance(), IDS_SCALEFACTOR_RANGE, message, sizeof message) == 0)
            lstrcpynA(message, "You must enter a scale factor between 0.0 and 1.0", sizeof message);
        (void)MessageBoxA(m_Dlg, message, "", MB_OK);
        return E_FAIL;
    }
    plugin::StoreScaleFactor(*factor);
    if (setting_) {
        HRESULT hr = setting_->SetScaleFactor(*factor);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}
