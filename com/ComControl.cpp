#include "ComControl.h"

#include "AboutDialog.h"

#include <new>
#include <stdexcept>

#include "KorvelCom_h.h"
#include "Module.h"
#include "StreamFormat.h"
#include "Variants.h"
#include "korvelcom/PropertyBags.h"

namespace korvel::com {
namespace {

// The failure code a failed call carries in EXCEPINFO: "invalid procedure call or argument",
// the code automation hosts show for a control's refused call.
constexpr SCODE kCallFailed = static_cast<SCODE>(0x800A0005);

const AutomationTable& table() {
    return AutomationTable::instance();
}

std::string narrowName(const wchar_t* name) {
    std::string out;
    for (; name && *name; ++name)
        out += *name < 0x80 ? static_cast<char>(*name) : '\x7F';
    return out;
}

std::wstring wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

ValueType typeOf(const PropValue& v) {
    static constexpr ValueType types[] = {ValueType::String, ValueType::I16, ValueType::I32,
                                          ValueType::Bool};
    return types[v.index()];
}

// The container's property bag seen as the control's.
class BagAdapter : public PropertyBag {
  public:
    BagAdapter(IPropertyBag* bag, IErrorLog* log) : bag_(bag), log_(log) {}

    PropValue read(const std::string& key, const PropValue& defaultValue) override {
        VARIANT v;
        VariantInit(&v);
        if (FAILED(bag_->Read(wide(key).c_str(), &v, log_))) return defaultValue;  // absent
        struct Clear {
            VARIANT& v;
            ~Clear() { VariantClear(&v); }
        } clear{v};
        const Value value =
            convertValue(fromVariant(v, typeOf(defaultValue)), typeOf(defaultValue));
        return std::visit(
            [](const auto& x) -> PropValue {
                using T = std::decay_t<decltype(x)>;
                if constexpr (std::is_constructible_v<PropValue, T> &&
                              !std::is_same_v<T, std::monostate>)
                    return x;
                else
                    throw AutomationError("not a persisted value");
            },
            static_cast<const Value::variant&>(value));
    }

    void write(const std::string& key, const PropValue& value, const PropValue&) override {
        VARIANT v;
        VariantInit(&v);
        HRESULT hr = std::visit([&](const auto& x) { return toVariant(Value(x), &v); }, value);
        if (SUCCEEDED(hr)) hr = bag_->Write(wide(key).c_str(), &v);
        VariantClear(&v);
        if (FAILED(hr)) throw std::runtime_error("the property bag refused " + key);
    }

  private:
    IPropertyBag* bag_;
    IErrorLog* log_;
};

}  // namespace

ComControl::ComControl()
    : events_(this, DIID___KorvelComTools),
      notify_(this, IID_IPropertyNotifySink),
      backColour_(GetSysColor(COLOR_BTNFACE)) {
    control_.setEventSink(this);
    control_.setAboutPresenter([](const ui::AboutBox& box) { showAboutBox(box); });
    control_.setPropertyChangedHandler([this](const std::string& name) { propertyChanged(name); });
    lockModule();
}

ComControl::~ComControl() {
    releaseSite();
    control_.setEventSink(nullptr);
    control_.setPropertyChangedHandler(nullptr);
    unlockModule();
}

// ---- IUnknown ------------------------------------------------------------------------------

HRESULT ComControl::QueryInterface(REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID__KorvelComTools)
        *out = static_cast<IDispatch*>(this);
    else if (riid == IID_IProvideClassInfo || riid == IID_IProvideClassInfo2)
        *out = static_cast<IProvideClassInfo2*>(this);
    else if (riid == IID_ISupportErrorInfo)
        *out = static_cast<ISupportErrorInfo*>(this);
    else if (riid == IID_IConnectionPointContainer)
        *out = static_cast<IConnectionPointContainer*>(this);
    else if (riid == IID_IPersist || riid == IID_IPersistStreamInit)
        *out = static_cast<IPersistStreamInit*>(this);
    else if (riid == IID_IPersistPropertyBag)
        *out = static_cast<IPersistPropertyBag*>(this);
    else if (riid == IID_IPersistStorage)
        *out = static_cast<IPersistStorage*>(this);
    else if (riid == IID_IOleObject)
        *out = static_cast<IOleObject*>(this);
    else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceObject)
        *out = static_cast<IOleInPlaceObject*>(this);
    else if (riid == IID_IOleInPlaceActiveObject)
        *out = static_cast<IOleInPlaceActiveObject*>(this);
    else if (riid == IID_IOleControl)
        *out = static_cast<IOleControl*>(this);
    else if (riid == IID_IViewObject || riid == IID_IViewObject2)
        *out = static_cast<IViewObject2*>(this);
    else if (riid == IID_IQuickActivate)
        *out = static_cast<IQuickActivate*>(this);
    else if (riid == IID_ISpecifyPropertyPages)
        *out = static_cast<ISpecifyPropertyPages*>(this);
    else if (riid == kIidComControl)
        *out = this;
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG ComControl::AddRef() {
    return ++refs_;
}

ULONG ComControl::Release() {
    const ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
}

// ---- IDispatch -----------------------------------------------------------------------------

HRESULT ComControl::typeLibrary(ITypeLib** out) {
    return loadTypeLibrary(out);
}

HRESULT ComControl::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT ComControl::GetTypeInfo(UINT index, LCID, ITypeInfo** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    ITypeLib* lib = nullptr;
    HRESULT hr = typeLibrary(&lib);
    if (FAILED(hr)) return hr;
    hr = lib->GetTypeInfoOfGuid(DIID__KorvelComTools, out);
    lib->Release();
    return hr;
}

HRESULT ComControl::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!names || !ids) return E_POINTER;
    if (count == 0) return S_OK;
    const std::string name = narrowName(names[0]);
    const Member* m = table().find(name, MemberKind::Method);
    if (!m) m = table().find(name, MemberKind::Get);
    if (!m) m = table().find(name, MemberKind::Put);
    HRESULT hr = S_OK;
    ids[0] = m ? m->id : DISPID_UNKNOWN;
    if (!m) hr = DISP_E_UNKNOWNNAME;
    // Named arguments: a parameter's id is its position.
    for (UINT i = 1; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        const std::string param = narrowName(names[i]);
        for (std::size_t p = 0; m && p < m->params.size(); ++p)
            if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, m->params[p].name.c_str(), -1,
                               param.c_str(), -1) == CSTR_EQUAL)
                ids[i] = static_cast<DISPID>(p);
        if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT ComControl::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                           VARIANT* result, EXCEPINFO* excep, UINT* argErr) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (!params) params = &none;
    try {
        const Member* m = nullptr;
        if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
            m = table().find(id, MemberKind::Put);
        } else {
            // `x = o.M(a)` arrives as method and get together: the method when there is one.
            if (flags & DISPATCH_METHOD) m = table().find(id, MemberKind::Method);
            if (!m && (flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)))
                m = table().find(id, MemberKind::Get);
        }
        if (!m) return DISP_E_MEMBERNOTFOUND;
        // Nothing the control does may unwind into the host: the object lives through the
        // call even when an event handler lets go of it.
        AddRef();
        const HRESULT hr = call(*m, *params, result, excep, argErr);
        Release();
        return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT ComControl::call(const Member& m, DISPPARAMS& params, VARIANT* result, EXCEPINFO* excep,
                         UINT* argErr) {
    const UINT count = params.cArgs;
    const std::size_t n = m.params.size();
    // Where each parameter's argument is in rgvarg (positional ones come last, reversed).
    std::vector<VARIANT*> source(n, nullptr);
    if (m.kind == MemberKind::Put) {
        if (count != 1) return DISP_E_BADPARAMCOUNT;
        source[0] = &params.rgvarg[0];
    } else {
        if (count > n) return DISP_E_BADPARAMCOUNT;
        const UINT positional = count - params.cNamedArgs;
        for (UINT i = 0; i < positional; ++i)
            source[i] = &params.rgvarg[count - 1 - i];
        for (UINT j = 0; j < params.cNamedArgs; ++j) {
            const DISPID p = params.rgdispidNamedArgs[j];
            if (p < 0 || static_cast<std::size_t>(p) >= n || source[p]) {
                if (argErr) *argErr = j;
                return DISP_E_PARAMNOTFOUND;
            }
            source[p] = &params.rgvarg[j];
        }
    }
    std::vector<Value> args(n);
    for (std::size_t i = 0; i < n; ++i) {
        const Param& p = m.params[i];
        const bool omitted = !source[i] || isOmitted(*source[i]);
        if (omitted && (p.defaultValue || p.type == ValueType::Array)) continue;  // its default
        if (omitted && !(source[i] && isEmpty(*source[i]))) return DISP_E_PARAMNOTOPTIONAL;
        try {
            // A required parameter given an Empty variable gets what Empty converts to.
            args[i] = omitted ? emptyValue(p.type)
                              : convertValue(fromVariant(*source[i], p.type), p.type);
        } catch (const AutomationError&) {
            if (argErr) *argErr = static_cast<UINT>(source[i] - params.rgvarg);
            return DISP_E_TYPEMISMATCH;
        }
    }
    Value value;
    try {
        value = invoke(control_, m, args);
    } catch (const AutomationError& e) {
        return fail(e.what(), excep);
    }
    for (std::size_t i = 0; i < n; ++i)
        if (source[i] && m.params[i].writesBack) {
            const HRESULT hr = writeBack(*source[i], args[i]);
            if (FAILED(hr)) return hr;
        }
    if (result && m.kind != MemberKind::Put && m.result != ValueType::Empty) {
        VariantInit(result);
        return toVariant(value, result);
    }
    return S_OK;
}

HRESULT ComControl::fail(const std::string& description, EXCEPINFO* excep) {
    const BSTR source = SysAllocString(kProgId);
    const BSTR text = toBstr(description);
    ICreateErrorInfo* create = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&create))) {
        create->SetGUID(DIID__KorvelComTools);
        create->SetSource(source);
        create->SetDescription(text);
        IErrorInfo* info = nullptr;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
            SetErrorInfo(0, info);
            info->Release();
        }
        create->Release();
    }
    if (excep) {
        *excep = EXCEPINFO{};
        excep->bstrSource = source;
        excep->bstrDescription = text;
        excep->scode = kCallFailed;
    } else {
        SysFreeString(source);
        SysFreeString(text);
    }
    return DISP_E_EXCEPTION;
}

// ---- IProvideClassInfo2, ISupportErrorInfo -------------------------------------------------

HRESULT ComControl::GetClassInfo(ITypeInfo** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    ITypeLib* lib = nullptr;
    HRESULT hr = typeLibrary(&lib);
    if (FAILED(hr)) return hr;
    hr = lib->GetTypeInfoOfGuid(CLSID_KorvelComTools, out);
    lib->Release();
    return hr;
}

HRESULT ComControl::GetGUID(DWORD kind, GUID* out) {
    if (!out) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *out = GUID_NULL;
        return E_INVALIDARG;
    }
    *out = DIID___KorvelComTools;
    return S_OK;
}

HRESULT ComControl::InterfaceSupportsErrorInfo(REFIID riid) {
    return riid == IID_IDispatch || riid == DIID__KorvelComTools ? S_OK : S_FALSE;
}

// ---- Connection points and events ----------------------------------------------------------

HRESULT ComControl::EnumConnectionPoints(IEnumConnectionPoints** out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
}

HRESULT ComControl::FindConnectionPoint(REFIID riid, IConnectionPoint** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == DIID___KorvelComTools)
        *out = &events_;
    else if (riid == IID_IPropertyNotifySink)
        *out = &notify_;
    else
        return CONNECT_E_NOCONNECTION;
    AddRef();
    return S_OK;
}

void ComControl::fire(DISPID id, VARIANT* args, UINT count) {
    if (frozen_ > 0) return;  // the container froze events (a form being loaded)
    AddRef();
    DISPPARAMS params{args, nullptr, count, 0};
    for (IUnknown* sink : events_.snapshot()) {
        // A sink's failure is its own; the control's operation goes on.
        reinterpret_cast<IDispatch*>(sink)->Invoke(
            id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
        sink->Release();
    }
    Release();
}

void ComControl::ReceivedEvent() {
    fire(1, nullptr, 0);
}

void ComControl::ErrorEvent(std::string& errType) {
    // errType is ReceiveError itself: what the sinks leave in the argument is kept there.
    // Without sinks it is left untouched (not even through the code page).
    if (events_.empty()) return;
    BSTR text = toBstr(errType);
    VARIANT arg;
    arg.vt = VT_BYREF | VT_BSTR;
    arg.pbstrVal = &text;
    fire(2, &arg, 1);
    errType = fromBstr(text);
    SysFreeString(text);
}

void ComControl::AbortEnabledEvent() {
    fire(3, nullptr, 0);
}

void ComControl::propertyChanged(const std::string& name) {
    dirty_ = true;
    const Member* m = table().find(name, MemberKind::Put);
    if (!m) return;
    AddRef();
    for (IUnknown* sink : notify_.snapshot()) {
        reinterpret_cast<IPropertyNotifySink*>(sink)->OnChanged(m->id);
        sink->Release();
    }
    Release();
}

// ---- Persistence ---------------------------------------------------------------------------

HRESULT ComControl::GetClassID(CLSID* out) {
    if (!out) return E_POINTER;
    *out = CLSID_KorvelComTools;
    return S_OK;
}

HRESULT ComControl::IsDirty() {
    return dirty_ ? S_OK : S_FALSE;
}

HRESULT ComControl::InitNew() {
    // Exactly one of initialisation or loading starts a control's life.
    if (initialised_) return E_UNEXPECTED;
    try {
        control_.InitProperties();
        dirty_ = false;
        initialised_ = true;
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT ComControl::Load(LPSTREAM stream) {
    if (!stream) return E_POINTER;
    try {
        // The whole stream is read and checked before anything is loaded.
        std::string data(kStreamHeaderSize, '\0');
        ULONG got = 0;
        HRESULT hr = stream->Read(data.data(), kStreamHeaderSize, &got);
        if (FAILED(hr)) return hr;
        if (got < kStreamHeaderSize) return STG_E_READFAULT;
        const auto length = payloadLength(data);
        if (!length) return E_FAIL;
        data.resize(kStreamHeaderSize + *length);
        got = 0;
        if (*length > 0) {
            hr = stream->Read(data.data() + kStreamHeaderSize, *length, &got);
            if (FAILED(hr)) return hr;
        }
        if (got < *length) return STG_E_READFAULT;
        const auto entries = decodeProperties(data);
        if (!entries) return E_FAIL;
        MemoryPropertyBag bag;
        for (const auto& e : *entries)
            bag.put(e.key, e.value);
        control_.ReadProperties(bag);
        dirty_ = false;
        initialised_ = true;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT ComControl::Save(LPSTREAM stream, BOOL clearDirty) {
    if (!stream) return E_POINTER;
    try {
        MemoryPropertyBag bag;
        control_.WriteProperties(bag);
        const std::string data = encodeProperties(bag.entries());
        ULONG written = 0;
        const HRESULT hr = stream->Write(data.data(), static_cast<ULONG>(data.size()), &written);
        if (FAILED(hr)) return hr;
        if (written != data.size()) return STG_E_WRITEFAULT;
        if (clearDirty) dirty_ = false;
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT ComControl::GetSizeMax(ULARGE_INTEGER* size) {
    if (!size) return E_POINTER;
    try {
        MemoryPropertyBag bag;
        control_.WriteProperties(bag);
        size->QuadPart = encodeProperties(bag.entries()).size();
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT ComControl::Load(IPropertyBag* bag, IErrorLog* log) {
    if (!bag) return E_POINTER;
    try {
        BagAdapter adapter(bag, log);
        control_.ReadProperties(adapter);
        dirty_ = false;
        initialised_ = true;
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT ComControl::Save(IPropertyBag* bag, BOOL clearDirty, BOOL) {
    if (!bag) return E_POINTER;
    try {
        BagAdapter adapter(bag, nullptr);
        control_.WriteProperties(adapter);
        if (clearDirty) dirty_ = false;
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

}  // namespace korvel::com
