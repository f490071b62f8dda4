#include "codec/videoencoder/VideoEncPages.h"

#include "codec/paramkit/UString.h"
#include "codec/videoencoder/VideoEncParams.h"
#include "codec/videoencoder/VidrelResource.h"

#include <commctrl.h>

#include <new>

// {00098205-76CC-497E-98A1-6EF10D0BF26D}
extern "C" const CLSID CLSID_VideoEncAboutPage = {
    0x00098205, 0x76CC, 0x497E, {0x98, 0xA1, 0x6E, 0xF1, 0x0D, 0x0B, 0xF2, 0x6D}};
// {00098205-76CC-497E-98A1-6EF10D0BF26E}
extern "C" const CLSID CLSID_VideoEncMainPage = {
    0x00098205, 0x76CC, 0x497E, {0x98, 0xA1, 0x6E, 0xF1, 0x0D, 0x0B, 0xF2, 0x6E}};
// {00098205-76CC-497E-98A1-6EF10D0BF26F}
extern "C" const CLSID CLSID_VideoEncAdvancedPage = {
    0x00098205, 0x76CC, 0x497E, {0x98, 0xA1, 0x6E, 0xF1, 0x0D, 0x0B, 0xF2, 0x6F}};

namespace {

constexpr int kLogoX = 80;
constexpr int kLogoY = 5;
const char kProductName[] = "Korvell MPEG-2 Video Encoder";
const char kVersion[] = "7.4.0.27713";
const char kBuild[] = "2008-03-13";

const GUID& ParamId(int index) {
    return *reinterpret_cast<const GUID*>(&vidcore::kParamRows[index].id);
}

int AsInt(VARIANT* v, int fallback) {
    VARIANT i;
    VariantInit(&i);
    int result = SUCCEEDED(VariantChangeType(&i, v, 0, VT_I4)) ? i.lVal : fallback;
    VariantClear(v);
    return result;
}

}  // namespace

// ---- about page ----

CUnknown* WINAPI VideoEncAboutPage::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
    auto* page = new (std::nothrow) VideoEncAboutPage(pUnk);
    if (page == nullptr && phr) *phr = E_OUTOFMEMORY;
    return page;
}

VideoEncAboutPage::VideoEncAboutPage(LPUNKNOWN pUnk)
    : CAboutPage(NAME("MPEG-2 Video Encoder About Page"), pUnk, IDD_VIDREL_ABOUT, IDS_VIDREL_ABOUT, IDB_VIDREL_LOGO,
                 IID_IModuleConfig) {}

POINT VideoEncAboutPage::LogoOrigin(const RECT&, SIZE) const {
    return {kLogoX, kLogoY};
}

HRESULT VideoEncAboutPage::OnActivate() {
    SetDlgItemTextA(m_Dlg, IDC_ABOUT_NAME, kProductName);
    const std::string version = std::string("Version ") + kVersion + " (build " + kBuild + ")";
    SetDlgItemTextA(m_Dlg, IDC_ABOUT_VERSION, version.c_str());
    return S_OK;
}

// ---- common to the settings pages ----

VideoEncSettingsPage::VideoEncSettingsPage(LPCTSTR name, LPUNKNOWN pUnk, int dialogId, int titleId)
    : CBasePropertyPage(name, pUnk, dialogId, titleId) {
    // The dialogs hold list views and up-down controls.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES | ICC_UPDOWN_CLASS};
    (void)InitCommonControlsEx(&controls);
}

VideoEncSettingsPage::~VideoEncSettingsPage() {
    if (config_ && registered_) (void)config_->UnregisterFromNotifies(this);
}

STDMETHODIMP VideoEncSettingsPage::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IModuleCallback) return GetInterface(static_cast<IModuleCallback*>(this), ppv);
    return CBasePropertyPage::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT VideoEncSettingsPage::OnConnect(IUnknown* object) {
    HRESULT hr = config_.QueryFrom(object, IID_IModuleConfig);
    if (FAILED(hr)) return hr;
    params_.clear();
    params_.resize(vidcore::kParamCount);
    hr = config_->RegisterForNotifies(this);
    registered_ = SUCCEEDED(hr);
    return hr;
}

HRESULT VideoEncSettingsPage::OnDisconnect() {
    if (!config_) return S_OK;
    (void)config_->DeclineChanges();
    if (registered_) (void)config_->UnregisterFromNotifies(this);
    registered_ = false;
    params_.clear();
    config_.Reset();
    return S_OK;
}

HRESULT VideoEncSettingsPage::OnApplyChanges() {
    if (!config_) return E_UNEXPECTED;
    VARIANT reason;
    VariantInit(&reason);
    HRESULT hr = config_->CommitChanges(&reason);
    VariantClear(&reason);
    return hr;
}

void VideoEncSettingsPage::MarkDirty() {
    m_bDirty = TRUE;
    if (m_pPageSite) (void)m_pPageSite->OnStatusChange(PROPPAGESTATUS_DIRTY);
}

IParamConfig* VideoEncSettingsPage::Param(int index) {
    if (!config_ || index < 0 || index >= static_cast<int>(params_.size())) return nullptr;
    com::ComPtr<IParamConfig>& p = params_[static_cast<size_t>(index)];
    if (!p && FAILED(config_->GetParamConfig(&ParamId(index), p.Put()))) p.Reset();
    return p.Get();
}

int VideoEncSettingsPage::PendingInt(int index) {
    IParamConfig* p = Param(index);
    VARIANT v;
    VariantInit(&v);
    if (p == nullptr || FAILED(p->GetValue(&v, FALSE))) return -1;
    return AsInt(&v, -1);
}

int VideoEncSettingsPage::CommittedInt(int index) {
    IParamConfig* p = Param(index);
    VARIANT v;
    VariantInit(&v);
    if (p == nullptr || FAILED(p->GetValue(&v, TRUE))) return 0;
    return AsInt(&v, 0);
}

double VideoEncSettingsPage::CommittedReal(int index) {
    IParamConfig* p = Param(index);
    VARIANT v;
    VariantInit(&v);
    if (p == nullptr || FAILED(p->GetValue(&v, TRUE))) return 0;
    VARIANT d;
    VariantInit(&d);
    double result = SUCCEEDED(VariantChangeType(&d, &v, 0, VT_R8)) ? d.dblVal : 0;
    VariantClear(&v);
    return result;
}

bool VideoEncSettingsPage::SetPendingInt(int index, int value) {
    IParamConfig* p = Param(index);
    if (p == nullptr) return false;
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return SUCCEEDED(p->SetValue(&v, FALSE));
}

std::string VideoEncSettingsPage::PendingName(int index) {
    IParamConfig* p = Param(index);
    VARIANT v;
    VariantInit(&v);
    if (p == nullptr || FAILED(p->GetValue(&v, FALSE))) return std::string();
    BSTR name = nullptr;
    std::string text;
    if (p->ValueToName(&v, &name) == S_OK && name) text = ModuleConfig::WideToAnsi(name);
    SysFreeString(name);
    VariantClear(&v);
    return text;
}

std::vector<std::string> VideoEncSettingsPage::ValueNames(int index, std::vector<int>* values) {
    std::vector<std::string> names;
    if (values) values->clear();
    IParamConfig* p = Param(index);
    long count = 0;
    if (p == nullptr || p->EnumValidValues(&count, nullptr, nullptr) != S_FALSE || count <= 0) return names;
    std::vector<VARIANT> v(static_cast<size_t>(count));
    std::vector<BSTR> n(static_cast<size_t>(count), nullptr);
    for (VARIANT& x : v) VariantInit(&x);
    if (SUCCEEDED(p->EnumValidValues(&count, v.data(), n.data()))) {
        for (long i = 0; i < count; ++i) {
            names.push_back(ModuleConfig::WideToAnsi(n[static_cast<size_t>(i)] ? n[static_cast<size_t>(i)] : L""));
            if (values) values->push_back(AsInt(&v[static_cast<size_t>(i)], -1));
        }
    }
    for (VARIANT& x : v) VariantClear(&x);
    for (BSTR b : n) SysFreeString(b);
    return names;
}

bool VideoEncSettingsPage::SetPendingByName(int index, const std::string& name) {
    IParamConfig* p = Param(index);
    if (p == nullptr || name.empty()) return false;
    BSTR text = SysAllocString(ModuleConfig::AnsiToWide(name.c_str()).c_str());
    if (text == nullptr) return false;
    VARIANT v;
    VariantInit(&v);
    bool taken = p->NameToValue(text, &v) == S_OK && SUCCEEDED(p->SetValue(&v, FALSE));
    VariantClear(&v);
    SysFreeString(text);
    return taken;
}
