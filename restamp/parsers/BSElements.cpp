#include "restamp/parsers/BSElements.h"

const char* const PesStreamTypeName[15] = {"Video",   "Audio",   "Private1",      "Private2", "Padding",
                                           "Unknown", "DVD AC3", "PVA PES Audio", "DVD LPCM", "H264",
                                           "SUBP",    "AAC",     "DIVX",          "Metadata", "AES3"};

namespace BS {

void AStreamElementImpl::Release() {
    while (!children_.empty()) {
        AStreamElement* c = children_.back();
        children_.pop_back();
        c->Release();
    }
    auto ps = parents_;
    for (auto* p : ps) p->RemoveChild(this);
    parents_.clear();
    if (ownedByGraph) delete this;
}

void AStreamElementImpl::RemoveChild(AStreamElement* c) {
    for (size_t i = 0; i < children_.size(); ++i)
        if (children_[i] == c) {
            children_.erase(children_.begin() + long(i));
            return;
        }
}

void AStreamElementImpl::ResetChildren() {
    auto cs = children_;
    for (auto* c : cs) c->Reset();
}

void AStreamElementImpl::Reset() {
    ResetChildren();
}

}  // namespace BS
