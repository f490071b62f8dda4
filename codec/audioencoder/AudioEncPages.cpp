#include "codec/audioencoder/AudioEncPages.h"

#include "codec/audioencoder/AudioEncIds.h"
#include "codec/audioencoder/AudrelResource.h"
#include "codec/audioencoder/SettingsPageText.h"
#include "codec/paramkit/UString.h"

#include <new>
#include <string>
#include <vector>

using namespace audioenc;

namespace {

// A change notice from another thread refills the page on its own thread.
constexpr UINT kRefillMessage = WM_USER + 100;
constexpr int kComboText = 256;
constexpr int kLogoTop = 5;

const GUID* const kHeldIds[] = {&kLayer, &kBitRate, &kAudioMode, &kCopyright, &kOriginal, &kCrc};
const int kModeControls[kModeButtons] = {IDC_MODE_STEREO, IDC_MODE_JOINT, IDC_MODE_DUAL, IDC_MODE_MONO};

int AsInt(VARIANT* v) {
    VARIANT i;
    VariantInit(&i);
    int result = -1;
    if (SUCCEEDED(VariantChangeType(&i, v, 0, VT_I4))) result = i.lVal;
    VariantClear(v);
    return result;
}

}  // namespace

// ---- settings page ----

CUnknown* WINAPI AudioEncSettingsPage::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
    auto* page = new (std::nothrow) AudioEncSettingsPage(pUnk);
    if (page == nullptr && phr) *phr = E_OUTOFMEMORY;
    return page;
}

AudioEncSettingsPage::AudioEncSettingsPage(LPUNKNOWN pUnk)
    : CBasePropertyPage(NAME("Layer-II Audio Encoder Settings Page"), pUnk, IDD_AUDREL_SETTINGS, IDS_AUDREL_SETTINGS) {}

// A frame that releases the page without disconnecting it leaves no listener behind.
AudioEncSettingsPage::~AudioEncSettingsPage() {
    if (config_ && registered_) (void)config_->UnregisterFromNotifies(this);
}

STDMETHODIMP AudioEncSettingsPage::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IModuleCallback) return GetInterface(static_cast<IModuleCallback*>(this), ppv);
    return CBasePropertyPage::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT AudioEncSettingsPage::OnConnect(IUnknown* object) {
    HRESULT hr = config_.QueryFrom(object, IID_IModuleConfig);
    if (FAILED(hr)) return hr;
    if (!config_) return E_FAIL;
    for (int i = 0; i < kHeldCount; ++i)
        if (FAILED(config_->GetParamConfig(kHeldIds[i], params_[i].Put()))) params_[i].Reset();
    hr = config_->RegisterForNotifies(this);
    registered_ = SUCCEEDED(hr);
    return hr;
}

HRESULT AudioEncSettingsPage::OnDisconnect() {
    // What was not committed is dropped.
    for (com::ComPtr<IParamConfig>& p : params_) {
        if (!p) continue;
        VARIANT v;
        VariantInit(&v);
        if (SUCCEEDED(p->GetValue(&v, TRUE))) (void)p->SetValue(&v, FALSE);
        VariantClear(&v);
        p.Reset();
    }
    if (config_ && registered_) (void)config_->UnregisterFromNotifies(this);
    registered_ = false;
    config_.Reset();
    return S_OK;
}

HRESULT AudioEncSettingsPage::OnActivate() {
    Fill();
    return S_OK;
}

STDMETHODIMP AudioEncSettingsPage::OnModuleChanged(long, const GUID*) {
    HWND dlg = m_Dlg;
    if (dlg == NULL) return S_OK;
    if (GetWindowThreadProcessId(dlg, NULL) == GetCurrentThreadId())
        Fill();
    else
        PostMessageW(dlg, kRefillMessage, 0, 0);
    return S_OK;
}

int AudioEncSettingsPage::PendingInt(IParamConfig* param) {
    if (param == nullptr) return -1;
    VARIANT v;
    VariantInit(&v);
    if (FAILED(param->GetValue(&v, FALSE))) return -1;
    return AsInt(&v);
}

int AudioEncSettingsPage::CommittedInt(const GUID& id) {
    VARIANT v;
    VariantInit(&v);
    if (!config_ || FAILED(config_->GetValue(&id, &v))) return 0;
    return AsInt(&v);
}

void AudioEncSettingsPage::FillCombo(int control, IParamConfig* param) {
    HWND combo = GetDlgItem(m_Dlg, control);
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    if (param == nullptr) return;
    long count = 0;
    if (param->EnumValidValues(&count, nullptr, nullptr) != S_FALSE || count <= 0) return;
    std::vector<VARIANT> values(static_cast<size_t>(count));
    std::vector<BSTR> names(static_cast<size_t>(count), nullptr);
    if (SUCCEEDED(param->EnumValidValues(&count, values.data(), names.data())))
        for (BSTR name : names)
            SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(ModuleConfig::WideToAnsi(name).c_str()));
    for (VARIANT& v : values) VariantClear(&v);
    for (BSTR name : names) SysFreeString(name);
    VARIANT pending;
    VariantInit(&pending);
    if (FAILED(param->GetValue(&pending, FALSE))) return;
    BSTR current = nullptr;
    if (param->ValueToName(&pending, &current) == S_OK && current) {
        std::string text = ModuleConfig::WideToAnsi(current);
        SendMessageA(combo, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text.c_str()));
    }
    SysFreeString(current);
    VariantClear(&pending);
}

void AudioEncSettingsPage::Fill() {
    if (m_Dlg == NULL) return;
    filling_ = true;
    FillCombo(IDC_BITRATE, params_[kBitRate].Get());
    FillCombo(IDC_LAYER, params_[kLayer].Get());
    const int mode = PendingInt(params_[kMode].Get());
    const int button = ModeButton(mode);
    for (int i = 0; i < kModeButtons; ++i)
        CheckDlgButton(m_Dlg, kModeControls[i], i == button ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(m_Dlg, IDC_COPYRIGHT, PendingInt(params_[kCopyright].Get()) == 1 ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(m_Dlg, IDC_ORIGINAL, PendingInt(params_[kOriginal].Get()) == 1 ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(m_Dlg, IDC_CRC, PendingInt(params_[kCrc].Get()) == 1 ? BST_CHECKED : BST_UNCHECKED);
    const int rate = CommittedInt(kInputSampleRate);
    const int channels = CommittedInt(kInputChannels);
    SetDlgItemTextA(m_Dlg, IDC_INPUT_LINE, InputLine(channels, rate).c_str());
    SetDlgItemTextA(m_Dlg, IDC_OUTPUT_LINE, OutputLine(channels, mode, rate).c_str());
    filling_ = false;
}

bool AudioEncSettingsPage::SetIntValue(IParamConfig* param, int value) {
    if (param == nullptr) return false;
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return SUCCEEDED(param->SetValue(&v, FALSE));
}

bool AudioEncSettingsPage::SetComboValue(int control, IParamConfig* param) {
    if (param == nullptr) return false;
    char text[kComboText] = "";
    if (GetDlgItemTextA(m_Dlg, control, text, kComboText) == 0) return false;
    BSTR name = SysAllocString(ModuleConfig::AnsiToWide(text).c_str());
    if (name == nullptr) return false;
    VARIANT v;
    VariantInit(&v);
    bool taken = false;
    if (param->NameToValue(name, &v) == S_OK) taken = SUCCEEDED(param->SetValue(&v, FALSE));
    VariantClear(&v);
    SysFreeString(name);
    return taken;
}

bool AudioEncSettingsPage::ReadControls() {
    if (m_Dlg == NULL) return false;
    bool taken = SetComboValue(IDC_LAYER, params_[kLayer].Get());
    taken = SetComboValue(IDC_BITRATE, params_[kBitRate].Get()) || taken;
    for (int i = 0; i < kModeButtons; ++i)
        if (IsDlgButtonChecked(m_Dlg, kModeControls[i]) == BST_CHECKED)
            taken = SetIntValue(params_[kMode].Get(), ModeOfButton(i)) || taken;
    taken = SetIntValue(params_[kCopyright].Get(), IsDlgButtonChecked(m_Dlg, IDC_COPYRIGHT) == BST_CHECKED) || taken;
    taken = SetIntValue(params_[kOriginal].Get(), IsDlgButtonChecked(m_Dlg, IDC_ORIGINAL) == BST_CHECKED) || taken;
    taken = SetIntValue(params_[kCrc].Get(), IsDlgButtonChecked(m_Dlg, IDC_CRC) == BST_CHECKED) || taken;
    return taken;
}

HRESULT AudioEncSettingsPage::OnApplyChanges() {
    if (!config_) return E_UNEXPECTED;
    (void)ReadControls();
    VARIANT error;
    VariantInit(&error);
    HRESULT hr = config_->CommitChanges(&error);
    if (FAILED(hr)) {
        std::string text = error.vt == VT_BSTR && error.bstrVal ? ModuleConfig::WideToAnsi(error.bstrVal) : "";
        (void)MessageBoxA(m_Dlg, text.c_str(), "Error", MB_OK);
    }
    VariantClear(&error);
    Fill();
    return hr;
}

INT_PTR AudioEncSettingsPage::OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    if (uMsg == kRefillMessage) {
        Fill();
        return TRUE;
    }
    if (uMsg == WM_COMMAND && !filling_ && config_) {
        const UINT code = HIWORD(wParam);
        if (code == CBN_SELCHANGE || code == EN_CHANGE || code == BN_CLICKED) {
            // Each change takes effect at once: nothing is left to apply.
            m_bDirty = FALSE;
            const bool taken = ReadControls();
            if (m_pPageSite) (void)m_pPageSite->OnStatusChange(taken ? PROPPAGESTATUS_DIRTY : PROPPAGESTATUS_VALIDATE);
            (void)config_->CommitChanges(nullptr);
        }
    }
    return CBasePropertyPage::OnReceiveMessage(hwnd, uMsg, wParam, lParam);
}

// ---- about page ----

CUnknown* WINAPI AudioEncAboutPage::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
    auto* page = new (std::nothrow) AudioEncAboutPage(pUnk);
    if (page == nullptr && phr) *phr = E_OUTOFMEMORY;
    return page;
}

AudioEncAboutPage::AudioEncAboutPage(LPUNKNOWN pUnk)
    : CAboutPage(NAME("Layer-II Audio Encoder About Page"), pUnk, IDD_AUDREL_ABOUT, IDS_AUDREL_ABOUT, IDB_AUDREL_LOGO,
                 IID_IModuleConfig) {}

// The logo is centred.
POINT AudioEncAboutPage::LogoOrigin(const RECT& client, SIZE logo) const {
    return {client.right / 2 - logo.cx / 2, kLogoTop};
}

HRESULT AudioEncAboutPage::OnActivate() {
    SetDlgItemTextA(m_Dlg, IDC_ABOUT_NAME, "Korvell Layer-II Audio Encoder");
    SetDlgItemTextA(m_Dlg, IDC_ABOUT_VERSION, "Version: 7.3.0.27713");
    return S_OK;
}
