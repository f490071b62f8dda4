// The parameter editor's model of the filter: the muxer, its programs and
// their streams, each bound to its configuration object. The nodes read and
// commit parameters; the page shows them.
#pragma once

#include "platform/dshow/BaseClasses.h"

#include "codec/multiplexer/pages/EditorRules.h"
#include "codec/paramkit/ParamInterfaces.h"
#include "platform/com/ComPtr.h"

#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

namespace muxora {

class EditorNode {
public:
    EditorNode(muxpages::NodeKind kind, com::ComPtr<IModuleConfig> config, EditorNode* parent);

    // The muxer node with every program and stream of the filter.
    static std::unique_ptr<EditorNode> BuildTree(IModuleConfig* filter);

    muxpages::NodeKind Kind() const { return kind_; }
    IModuleConfig* Config() const { return config_.Get(); }
    EditorNode* Parent() const { return parent_; }
    const std::vector<std::unique_ptr<EditorNode>>& Children() const { return children_; }
    const std::vector<GUID>& Ids() const { return ids_; }
    const std::wstring& Text() const { return text_; }
    int Image() const { return image_; }
    HTREEITEM item = nullptr;

    // One parameter as the editor shows it; false when it cannot be read.
    bool Read(const GUID& id, muxpages::ParamView* view) const;
    // What rows of this object show beside their own value.
    muxpages::RowContext Context() const;
    // The names of a value list, and the current value's position in it.
    std::vector<std::wstring> ValueNames(const GUID& id, int* current) const;
    // "PCR PID" choices: the stream ids of the program's connected streams.
    std::vector<std::wstring> PcrChoices(int* current) const;
    // Turns the typed text into the value, sets and commits it. S_FALSE when
    // the text was refused before it reached the filter; *error says why.
    HRESULT Commit(const GUID& id, const std::wstring& typed, std::wstring* error, bool* structure);
    // Node-level apply and decline of the object's pending changes.
    HRESULT Apply(bool* structure);
    void Decline();
    // The end-of-stream flag switched the image: true when it changed.
    bool UpdateEnded(bool ended);

private:
    void ReadOwnTexts(int64_t output);
    void Enumerate(const GUID& enumId, muxpages::NodeKind childKind, int64_t output);

    muxpages::NodeKind kind_;
    com::ComPtr<IModuleConfig> config_;
    EditorNode* parent_;
    std::vector<std::unique_ptr<EditorNode>> children_;
    std::vector<GUID> ids_;
    std::wstring text_;
    int image_ = 0;
};

std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

}  // namespace muxora
