#include "codec/multiplexer/filter/EditorNodes.h"

#include "codec/multiplexer/filter/MuxoraIds.h"

#include <limits>

namespace muxora {

namespace {

// No filter has this many programs or streams: a bound against an
// enumeration that never ends.
constexpr int kMaxEnumerated = 4096;
constexpr int64_t kDefaultOutput = 2;

class ScopedVariant {
public:
    ScopedVariant() { VariantInit(&v); }
    ~ScopedVariant() {
        if (v.vt != VT_PTR) VariantClear(&v);
    }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;
    VARIANT v;
};

class ScopedBstr {
public:
    ScopedBstr() = default;
    explicit ScopedBstr(const std::wstring& text) : b(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~ScopedBstr() { SysFreeString(b); }
    ScopedBstr(const ScopedBstr&) = delete;
    ScopedBstr& operator=(const ScopedBstr&) = delete;
    std::wstring Text() const { return b ? std::wstring(b, SysStringLen(b)) : std::wstring(); }
    BSTR b = nullptr;
};

bool ToNumber(const VARIANT& value, int64_t* out) {
    if (value.vt == VT_PTR) return false;
    if (value.vt == VT_BOOL) {
        *out = value.boolVal ? 1 : 0;
        return true;
    }
    ScopedVariant n;
    if (FAILED(VariantChangeType(&n.v, const_cast<VARIANT*>(&value), 0, VT_I8))) return false;
    *out = n.v.llVal;
    return true;
}

bool ReadNumber(IModuleConfig* config, const GUID& id, int64_t* out) {
    ScopedVariant v;
    if (FAILED(config->GetValue(&id, &v.v))) return false;
    return ToNumber(v.v, out);
}

// The name of the parameter's current value; empty when it has none.
std::wstring ReadValueName(IModuleConfig* config, const GUID& id) {
    com::ComPtr<IParamConfig> param;
    if (FAILED(config->GetParamConfig(&id, param.Put()))) return std::wstring();
    ScopedVariant v;
    if (FAILED(config->GetValue(&id, &v.v))) return std::wstring();
    ScopedBstr name;
    if (FAILED(param->ValueToName(&v.v, &name.b))) return std::wstring();
    return name.Text();
}

}  // namespace

std::wstring Widen(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

EditorNode::EditorNode(muxpages::NodeKind kind, com::ComPtr<IModuleConfig> config, EditorNode* parent)
    : kind_(kind), config_(std::move(config)), parent_(parent) {
    long count = 0;
    if (config_ && config_->EnumParams(&count, nullptr) == S_FALSE && count > 0) {
        ids_.resize(static_cast<size_t>(count));
        if (config_->EnumParams(&count, ids_.data()) != S_OK) ids_.clear();
        ids_.resize(static_cast<size_t>(count) < ids_.size() ? static_cast<size_t>(count) : ids_.size());
    }
}

std::unique_ptr<EditorNode> EditorNode::BuildTree(IModuleConfig* filter) {
    if (!filter) return nullptr;
    auto root = std::make_unique<EditorNode>(muxpages::NodeKind::Muxer, com::ComPtr<IModuleConfig>(filter), nullptr);
    int64_t output = kDefaultOutput;
    ReadNumber(filter, kOutput, &output);
    root->ReadOwnTexts(output);
    root->Enumerate(kEnumPrograms, muxpages::NodeKind::Program, output);
    for (auto& program : root->children_) program->Enumerate(kEnumInputs, muxpages::StreamKind(true), output);
    return root;
}

// Each call hands out the item after the one the variant holds, releasing
// that one; the node keeps its own reference. After the last item the
// variant comes back empty; a walk cut short leaves one item to release.
void EditorNode::Enumerate(const GUID& enumId, muxpages::NodeKind childKind, int64_t output) {
    VARIANT position;
    VariantInit(&position);
    for (int i = 0; i < kMaxEnumerated; ++i) {
        if (FAILED(config_->GetValue(&enumId, &position)) || position.vt != VT_UNKNOWN || !position.punkVal) break;
        com::ComPtr<IModuleConfig> child;
        if (FAILED(child.QueryFrom(position.punkVal, IID_IModuleConfig))) break;
        auto node = std::make_unique<EditorNode>(childKind, child, this);
        node->ReadOwnTexts(output);
        children_.push_back(std::move(node));
    }
    if (FAILED(VariantClear(&position))) return;
}

void EditorNode::ReadOwnTexts(int64_t output) {
    IModuleConfig* c = config_.Get();
    switch (kind_) {
        case muxpages::NodeKind::Muxer:
            text_ = ReadValueName(c, kOutput);
            image_ = muxpages::ImagesForOutput(output).muxer;
            break;
        case muxpages::NodeKind::Program: {
            int64_t id = 0, number = 0;
            ReadNumber(c, kProgramId, &id);
            std::optional<int64_t> shownNumber;
            if (ReadNumber(c, kProgramNumber, &number)) shownNumber = number;
            text_ = Widen(muxpages::ProgramText(id, shownNumber));
            image_ = muxpages::ImagesForOutput(output).program;
            break;
        }
        case muxpages::NodeKind::Stream:
        case muxpages::NodeKind::LooseStream: {
            int64_t streamId = 0, ended = 0;
            ReadNumber(c, kStreamId, &streamId);
            ReadNumber(c, kEndedFlag, &ended);
            text_ = Widen(muxpages::StreamText(streamId, Narrow(ReadValueName(c, kStreamType))));
            image_ = muxpages::StreamImage(ended != 0);
            break;
        }
    }
}

bool EditorNode::UpdateEnded(bool ended) {
    const int image = muxpages::StreamImage(ended);
    if (image == image_) return false;
    image_ = image;
    return true;
}

bool EditorNode::Read(const GUID& id, muxpages::ParamView* view) const {
    com::ComPtr<IParamConfig> param;
    if (FAILED(config_->GetParamConfig(&id, param.Put()))) return false;
    ScopedBstr name;
    if (FAILED(param->GetName(&name.b))) return false;
    view->name = Narrow(name.Text());
    BOOL readOnly = FALSE, visible = TRUE;
    if (FAILED(param->GetReadOnly(&readOnly)) || FAILED(param->GetVisible(&visible))) return false;
    view->readOnly = readOnly != FALSE;
    view->visible = visible != FALSE;
    // Hidden rows need no value (some hold pointers), but the end-of-stream flag is read.
    if (!view->visible && !view->name.empty()) return true;

    ScopedVariant v;
    if (FAILED(config_->GetValue(&id, &v.v))) return false;
    switch (v.v.vt) {
        case VT_PTR:
            return false;
        case VT_BSTR:
            view->kind = muxpages::ValueKind::Text;
            view->text = Narrow(v.v.bstrVal ? std::wstring(v.v.bstrVal, SysStringLen(v.v.bstrVal)) : std::wstring());
            break;
        case VT_I8:
        case VT_UI8:
            view->kind = muxpages::ValueKind::Int64;
            break;
        case VT_BOOL:
            view->kind = muxpages::ValueKind::Bool;
            break;
        default:
            view->kind = muxpages::ValueKind::Int;
            break;
    }
    if (view->kind != muxpages::ValueKind::Text && !ToNumber(v.v, &view->number)) return false;
    long count = 0;
    view->hasValueList = param->EnumValidValues(&count, nullptr, nullptr) == S_FALSE && count > 0;
    if (view->hasValueList) {
        ScopedBstr valueName;
        view->valueName =
            SUCCEEDED(param->ValueToName(&v.v, &valueName.b)) ? Narrow(valueName.Text()) : std::to_string(view->number);
    }
    return true;
}

muxpages::RowContext EditorNode::Context() const {
    muxpages::RowContext context;
    IModuleConfig* c = config_.Get();
    if (kind_ == muxpages::NodeKind::Stream || kind_ == muxpages::NodeKind::LooseStream) {
        int64_t type = 0, sub = 0;
        if (ReadNumber(c, kStreamType, &type) && muxpages::TypeCarriesSubId(type)) {
            ReadNumber(c, kStreamSubId, &sub);
            context.subId = sub;
        }
    } else if (kind_ == muxpages::NodeKind::Program) {
        ReadNumber(c, kUserPcrPid, &context.userPcrPid);
    }
    return context;
}

std::vector<std::wstring> EditorNode::ValueNames(const GUID& id, int* current) const {
    std::vector<std::wstring> names;
    *current = -1;
    com::ComPtr<IParamConfig> param;
    if (FAILED(config_->GetParamConfig(&id, param.Put()))) return names;
    long count = 0;
    if (param->EnumValidValues(&count, nullptr, nullptr) != S_FALSE || count <= 0) return names;
    std::vector<BSTR> raw(static_cast<size_t>(count), nullptr);
    if (SUCCEEDED(param->EnumValidValues(&count, nullptr, raw.data())))
        for (BSTR b : raw) names.emplace_back(b ? std::wstring(b, SysStringLen(b)) : std::wstring());
    for (BSTR b : raw) SysFreeString(b);
    const std::wstring now = ReadValueName(config_.Get(), id);
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == now) *current = static_cast<int>(i);
    return names;
}

std::vector<std::wstring> EditorNode::PcrChoices(int* current) const {
    std::vector<std::wstring> choices;
    *current = -1;
    int64_t pcrPid = -1;
    ReadNumber(config_.Get(), kPcrPid, &pcrPid);
    for (const auto& stream : children_) {
        int64_t connected = 0, streamId = 0;
        if (!ReadNumber(stream->Config(), kIsConnected, &connected) || connected == 0) continue;
        if (!ReadNumber(stream->Config(), kStreamId, &streamId)) continue;
        if (streamId == pcrPid) *current = static_cast<int>(choices.size());
        choices.push_back(std::to_wstring(streamId));
    }
    return choices;
}

HRESULT EditorNode::Commit(const GUID& id, const std::wstring& typed, std::wstring* error, bool* structure) {
    *structure = false;
    error->clear();
    muxpages::ParamView view;
    com::ComPtr<IParamConfig> param;
    if (!Read(id, &view) || FAILED(config_->GetParamConfig(&id, param.Put()))) return E_FAIL;
    const std::wstring text = typed.substr(0, muxpages::kMaxEditText);
    ScopedVariant value;
    if (view.hasValueList) {
        ScopedBstr name(text);
        if (FAILED(param->NameToValue(name.b, &value.v))) {
            *error = Widen(muxpages::RefusedText(view.name, Narrow(text)));
            return S_FALSE;
        }
    } else {
        const muxpages::TypedValue typedValue = muxpages::ReadTypedText(view.name, view.kind, Narrow(text));
        if (!typedValue.ok) {
            *error = Widen(typedValue.error);
            return S_FALSE;
        }
        if (typedValue.isText) {
            value.v.vt = VT_BSTR;
            value.v.bstrVal = SysAllocString(Widen(typedValue.text).c_str());
            if (!value.v.bstrVal) return E_OUTOFMEMORY;
        } else if (typedValue.number >= std::numeric_limits<LONG>::min() &&
                   typedValue.number <= std::numeric_limits<LONG>::max()) {
            value.v.vt = VT_I4;
            value.v.lVal = static_cast<LONG>(typedValue.number);
        } else {
            value.v.vt = VT_I8;
            value.v.llVal = typedValue.number;
        }
    }
    HRESULT hr = config_->SetValue(&id, &value.v);
    if (FAILED(hr)) {
        *error = Widen(muxpages::RefusedText(view.name, Narrow(text)));
        return hr;
    }
    ScopedVariant info;
    hr = config_->CommitChanges(&info.v);
    if (FAILED(hr)) {
        // The configuration's own words when it gives them.
        *error = info.v.vt == VT_BSTR && info.v.bstrVal && *info.v.bstrVal
                     ? std::wstring(info.v.bstrVal)
                     : Widen(muxpages::RefusedText(view.name, Narrow(text)));
        config_->DeclineChanges();
        return hr;
    }
    *structure = muxpages::ChangesStructure(view.name);
    return S_OK;
}

HRESULT EditorNode::Apply(bool* structure) {
    *structure = false;
    ScopedVariant info;
    HRESULT hr = config_->CommitChanges(&info.v);
    if (FAILED(hr)) config_->DeclineChanges();
    return hr;
}

void EditorNode::Decline() {
    config_->DeclineChanges();
}

}  // namespace muxora
