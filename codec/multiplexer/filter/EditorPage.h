// "Settings": the multiplexer's parameter editor. A tree of the muxer, its
// programs and their streams beside the selected object's parameters, edited
// in place; context menus create and delete programs and streams, and a
// stream is dragged onto another program to move it there.
#pragma once

#include "platform/dshow/BaseClasses.h"
#include "platform/dshow/PropPage.h"

#include "codec/multiplexer/filter/EditorNodes.h"

#include <commctrl.h>

#include <memory>
#include <string>

namespace muxora {

class CM72PropertyPage : public CBasePropertyPage {
public:
    static CUnknown* WINAPI CreateInstance(LPUNKNOWN outer, HRESULT* phr);
    explicit CM72PropertyPage(LPUNKNOWN outer);
    ~CM72PropertyPage() override;

    HRESULT OnConnect(IUnknown* object) override;
    HRESULT OnDisconnect() override;
    HRESULT OnActivate() override;
    HRESULT OnDeactivate() override;
    HRESULT OnApplyChanges() override;
    INT_PTR OnReceiveMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    // The bodies of OnActivate and OnApplyChanges (which keep exceptions in).
    HRESULT Activated();
    HRESULT Applied();
    INT_PTR Handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnNotify(NMHDR* header);
    void Layout();
    // The tree, built anew from the filter; the object shown before stays
    // selected when it is still there.
    void RebuildTree();
    void InsertItems(EditorNode* node, HTREEITEM parent);
    void DeleteTree();
    void Select(EditorNode* node);
    EditorNode* NodeOf(HTREEITEM item) const;
    EditorNode* FindNode(EditorNode* from, IUnknown* config) const;
    // Rows of the current node.
    void FillList();
    void FitColumns();
    void WriteRow(size_t index, const muxpages::ParamView& view, const muxpages::RowContext& context);
    void Refresh();
    // In-place editing.
    void BeginEdit();
    bool EndEdit(bool commit);
    void InstallHook();
    void RemoveHook();
    static LRESULT CALLBACK KeyboardHook(int code, WPARAM wParam, LPARAM lParam);
    // Menus and drag and drop.
    void ShowContextMenu();
    void RunCommand(int command);
    void BeginDrag(const NMTREEVIEWW& info);
    void DragOver(POINT dialogPoint);
    void EndDrag(bool drop);
    void ShowStatus(const std::wstring& text);
    void MarkDirty();

    com::ComPtr<IModuleConfig> config_;
    HWND tree_ = nullptr;
    HWND list_ = nullptr;
    HIMAGELIST images_ = nullptr;
    std::unique_ptr<EditorNode> root_;
    EditorNode* current_ = nullptr;
    bool rebuilding_ = false;
    // The open in-place editor, the row it edits and the hook serving it.
    HWND editor_ = nullptr;
    size_t editRow_ = 0;
    HHOOK hook_ = nullptr;
    // Drag state.
    EditorNode* dragged_ = nullptr;
    EditorNode* dropTarget_ = nullptr;
    HIMAGELIST dragImage_ = nullptr;
    UINT_PTR timer_ = 0;
};

}  // namespace muxora
