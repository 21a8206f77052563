#include "ConnectionPoint.h"

namespace korvel::com {

ConnectionPoint::~ConnectionPoint() {
    for (auto& [cookie, sink] : sinks_)
        sink->Release();
}

std::vector<IUnknown*> ConnectionPoint::snapshot() const {
    std::vector<IUnknown*> out;
    out.reserve(sinks_.size());
    for (const auto& [cookie, sink] : sinks_) {
        sink->AddRef();
        out.push_back(sink);
    }
    return out;
}

HRESULT ConnectionPoint::QueryInterface(REFIID riid, void** out) {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
        *out = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT ConnectionPoint::GetConnectionInterface(IID* iid) {
    if (!iid) return E_POINTER;
    *iid = iid_;
    return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** out) {
    if (!out) return E_POINTER;
    *out = container_;
    container_->AddRef();
    return S_OK;
}

HRESULT ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (!sink || !cookie) return E_POINTER;
    *cookie = 0;
    void* held = nullptr;
    if (FAILED(sink->QueryInterface(iid_, &held)) &&
        (iid_ == IID_IPropertyNotifySink || FAILED(sink->QueryInterface(IID_IDispatch, &held))))
        return CONNECT_E_CANNOTCONNECT;
    *cookie = next_++;
    sinks_[*cookie] = static_cast<IUnknown*>(held);
    return S_OK;
}

HRESULT ConnectionPoint::Unadvise(DWORD cookie) {
    const auto it = sinks_.find(cookie);
    if (it == sinks_.end()) return CONNECT_E_NOCONNECTION;
    IUnknown* sink = it->second;
    sinks_.erase(it);
    sink->Release();  // last: releasing may run the sink's own code
    return S_OK;
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
}

}  // namespace korvel::com
