// A connection point: the sinks advised for one outgoing interface of the control.
#pragma once

#include <windows.h>

#include <ocidl.h>
#include <olectl.h>

#include <functional>
#include <map>
#include <vector>

namespace korvel::com {

class ConnectionPoint : public IConnectionPoint {
  public:
    /// `container` is the object the point belongs to (it keeps the point alive, the point
    /// holds no reference back); `iid` the sinks' interface.
    ConnectionPoint(IConnectionPointContainer* container, const IID& iid)
        : container_(container), iid_(iid) {}
    ~ConnectionPoint();

    /// The sinks advised now, each with a reference the caller releases (a handler may
    /// advise or unadvise while the caller goes through them).
    std::vector<IUnknown*> snapshot() const;
    bool empty() const { return sinks_.empty(); }

    // IUnknown: counted by the container.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return container_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return container_->Release(); }

    // IConnectionPoint.
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override;
    /// Keeps the sink's `iid` interface (for an events dispinterface, IDispatch is accepted
    /// too); CONNECT_E_CANNOTCONNECT when it has neither.
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
    /// CONNECT_E_NOCONNECTION for a cookie not advised.
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
    /// E_NOTIMPL: hosts find their own sinks by cookie.
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override;

  private:
    IConnectionPointContainer* container_;
    IID iid_;
    std::map<DWORD, IUnknown*> sinks_;
    DWORD next_ = 1;
};

}  // namespace korvel::com
