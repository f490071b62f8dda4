// The video encoder's property pages: the about page, the main settings page
// (the everyday settings in one dialog) and the advanced page (every visible
// writable parameter in a list with in-place editors).
#pragma once

#include "codec/paramkit/ParamInterfaces.h"
#include "platform/com/ComPtr.h"
#include "platform/dshow/AboutPage.h"
#include "platform/dshow/BaseClasses.h"

#include <commctrl.h>

#include <string>
#include <vector>

extern "C" const CLSID CLSID_VideoEncAboutPage;
extern "C" const CLSID CLSID_VideoEncMainPage;
extern "C" const CLSID CLSID_VideoEncAdvancedPage;

class VideoEncAboutPage : public CAboutPage {
public:
    static CUnknown* WINAPI CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);

    HRESULT OnActivate() override;

private:
    explicit VideoEncAboutPage(LPUNKNOWN pUnk);
    POINT LogoOrigin(const RECT& client, SIZE logo) const override;
};

// What both settings pages share: the configuration, their registration for
// change notices, and typed access to parameters by table index.
class VideoEncSettingsPage : public CBasePropertyPage, public IModuleCallback {
public:
    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT OnConnect(IUnknown* object) override;
    HRESULT OnDisconnect() override;
    HRESULT OnApplyChanges() override;

protected:
    VideoEncSettingsPage(LPCTSTR name, LPUNKNOWN pUnk, int dialogId, int titleId);
    ~VideoEncSettingsPage() override;

    void MarkDirty();
    IParamConfig* Param(int index);
    int PendingInt(int index);
    int CommittedInt(int index);
    double CommittedReal(int index);
    bool SetPendingInt(int index, int value);
    // The name of the parameter's pending value, empty when it has none.
    std::string PendingName(int index);
    // The parameter's value names in its order.
    std::vector<std::string> ValueNames(int index, std::vector<int>* values = nullptr);
    bool SetPendingByName(int index, const std::string& name);

    com::ComPtr<IModuleConfig> config_;

private:
    std::vector<com::ComPtr<IParamConfig>> params_;
    bool registered_ = false;
};

class VideoEncMainPage : public VideoEncSettingsPage {
public:
    static CUnknown* WINAPI CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);

    STDMETHODIMP OnModuleChanged(long count, const GUID* changedIds) override;
    HRESULT OnActivate() override;
    HRESULT OnDeactivate() override;
    HRESULT OnApplyChanges() override;
    INT_PTR OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) override;

private:
    explicit VideoEncMainPage(LPUNKNOWN pUnk);

    void Fill();
    void FillNamed(int control, int index);
    void FillLevels();
    void FillAspect();
    void FillValueFields();
    // The controls into pending values.
    void ApplyControls();
    void ApplySelection(int control, int index);
    int SelectedValue(int control, int index);
    void UpdateStatus();
    void SetTextIfChanged(int control, const std::string& text);
    void OnDeltaPos(NMUPDOWN* change, int control);

    bool filling_ = false;
    bool editChanged_ = false;
};

class VideoEncAdvancedPage : public VideoEncSettingsPage {
public:
    static CUnknown* WINAPI CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);

    STDMETHODIMP OnModuleChanged(long count, const GUID* changedIds) override;
    HRESULT OnActivate() override;
    HRESULT OnDeactivate() override;
    INT_PTR OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) override;

private:
    explicit VideoEncAdvancedPage(LPUNKNOWN pUnk);
    ~VideoEncAdvancedPage() override;

    struct Row {
        com::ComPtr<IParamConfig> param;
    };

    void BuildRows();
    std::string ValueText(IParamConfig* param);
    void RedrawRow(int row);
    void RedrawAll();
    void OpenEditor(int row);
    // Accepts (or discards) the editor's value and removes the editor.
    void CloseEditor(bool accept);
    bool AcceptEditor();
    static LRESULT CALLBACK EditorProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ListProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    static DWORD WINAPI RefreshThread(LPVOID self);
    void StopRefresh();

    std::vector<Row> rows_;
    HWND list_ = NULL;
    WNDPROC listProc_ = nullptr;
    HWND editor_ = NULL;
    WNDPROC editorProc_ = nullptr;
    int editorRow_ = -1;
    bool editorIsCombo_ = false;
    bool closing_ = false;
    // One pair per page: another page's close must not end this page's thread.
    HANDLE invalidate_ = NULL;
    HANDLE terminate_ = NULL;
    HANDLE thread_ = NULL;
};
