"""The KorvelComTools payment-terminal control from Python, over the library's C interface.

    import korvelcom
    c = korvelcom.Control()
    c.CommPort = 1
    c.POSAmount = "00001500"
    print(c.POSMessage(), c.EFTposStat)

Every automation member is an attribute of `Control` under its own name: properties read and
write like attributes, methods are called with their arguments in order (omitted optional ones
take their defaults).  A method that writes arguments back returns a tuple: its result (when it
has one), then the written-back arguments in order.  Strings are Python `str`s holding one code
point per byte (latin-1), so every byte 0-255 survives; `bytes` are accepted as strings too.
Byte arrays are `Bytes(lbound, data)`, arrays of variants `Array(lbound, items)`.

Events: assign callables to `ReceivedEvent`, `ErrorEvent` (called with the error tag; a
returned string replaces it, which replaces `ReceiveError`) and `AbortEnabledEvent`.

A call the control refuses (unknown member, wrong argument, a member that fails the call)
raises `KorvelComError`; failures the control reports its own way (an error tag in
`ReceiveError`, a false or empty result) are not exceptions, as for every other host.

The library is `$KORVELCOM_LIBRARY` when set, else the installed libkorvelcom.
"""

import ctypes
import ctypes.util
import os
from typing import NamedTuple

__all__ = ["Control", "KorvelComError", "Bytes", "Array", "members", "port_map_set",
           "port_map_lookup", "version"]

EMPTY, BOOL, I16, I32, STRING, BYTES, ANY, ARRAY = range(8)
GET, PUT, METHOD, EVENT = range(4)
_TYPE_NAMES = ["None", "bool", "int", "int", "str", "Bytes", "Any", "Array"]


class Bytes(NamedTuple):
    """A byte array with its lower bound (the index of its first byte)."""
    lbound: int
    data: bytes


class Array(NamedTuple):
    """An array of variants with its lower bound."""
    lbound: int
    items: list


class KorvelComError(Exception):
    """A call the control refused.  `status`: 1 no such member, 2 bad arguments, 3 the member
    failed the call, 4 out of memory; `tag`: the control's `ReceiveError` after the call."""

    def __init__(self, message, status=0, tag=""):
        super().__init__(message)
        self.status = status
        self.tag = tag


class _Value(ctypes.Structure):
    pass


_Value._fields_ = [("type", ctypes.c_int32), ("lbound", ctypes.c_int32),
                   ("number", ctypes.c_int32), ("owned", ctypes.c_uint32),
                   ("bytes", ctypes.c_void_p), ("items", ctypes.POINTER(_Value)),
                   ("size", ctypes.c_size_t)]


class _Member(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char_p), ("kind", ctypes.c_int32),
                ("dispatch_id", ctypes.c_int32), ("result_type", ctypes.c_int32),
                ("param_count", ctypes.c_size_t)]


class _Param(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char_p), ("type", ctypes.c_int32), ("by_ref", ctypes.c_int32),
                ("writes_back", ctypes.c_int32), ("optional", ctypes.c_int32),
                ("default_value", _Value)]


_EVENT_CALLBACK = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_int, ctypes.POINTER(_Value))


def _load():
    path = os.environ.get("KORVELCOM_LIBRARY") or ctypes.util.find_library("korvelcom")
    lib = ctypes.CDLL(path or "libkorvelcom.so.3")
    v = ctypes.POINTER(_Value)
    for name, result, args in [
            ("korvelcom_version", ctypes.c_char_p, []),
            ("korvelcom_last_error", ctypes.c_char_p, []),
            ("korvelcom_create", ctypes.c_void_p, []),
            ("korvelcom_destroy", None, [ctypes.c_void_p]),
            ("korvelcom_set_event_callback", None,
             [ctypes.c_void_p, _EVENT_CALLBACK, ctypes.c_void_p]),
            ("korvelcom_invoke", ctypes.c_int,
             [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int, v, ctypes.c_size_t, v]),
            ("korvelcom_value_clear", None, [v]),
            ("korvelcom_value_set_string", ctypes.c_int, [v, ctypes.c_char_p, ctypes.c_size_t]),
            ("korvelcom_member_count", ctypes.c_size_t, []),
            ("korvelcom_member_info", ctypes.c_int, [ctypes.c_size_t, ctypes.POINTER(_Member)]),
            ("korvelcom_param_info", ctypes.c_int,
             [ctypes.c_size_t, ctypes.c_size_t, ctypes.POINTER(_Param)]),
            ("korvelcom_port_map_set", ctypes.c_int, [ctypes.c_int16, ctypes.c_char_p]),
            ("korvelcom_port_map_lookup", ctypes.c_int, [ctypes.c_int16, v])]:
        fn = getattr(lib, name)
        fn.restype = result
        fn.argtypes = args
    return lib


_lib = _load()


def _from_c(v):
    """A Python value from a C value (the C value is left as it is)."""
    if v.type == BOOL:
        return bool(v.number)
    if v.type in (I16, I32):
        return v.number
    if v.type in (STRING, BYTES):
        data = ctypes.string_at(v.bytes, v.size) if v.size else b""
        return data.decode("latin-1") if v.type == STRING else Bytes(v.lbound, data)
    if v.type == ARRAY:
        return Array(v.lbound, [_from_c(v.items[i]) for i in range(v.size)])
    return None


def _to_c(value, keep):
    """A C value for `value`; `keep` holds the buffers it points to until the call is over."""
    v = _Value()
    if value is None:
        return v
    if isinstance(value, bool):
        v.type, v.number = BOOL, int(value)
    elif isinstance(value, int):
        v.type, v.number = (I16 if -32768 <= value <= 32767 else I32), value
    elif isinstance(value, (str, bytes, bytearray, Bytes)):
        lbound, data = (value.lbound, value.data) if isinstance(value, Bytes) else (0, value)
        raw = data.encode("latin-1") if isinstance(data, str) else bytes(data)
        buf = ctypes.create_string_buffer(raw, len(raw) + 1)
        keep.append(buf)
        v.type = BYTES if isinstance(value, Bytes) else STRING
        v.lbound, v.bytes, v.size = lbound, ctypes.cast(buf, ctypes.c_void_p), len(raw)
    elif isinstance(value, (Array, list, tuple)):
        lbound, items = (value.lbound, value.items) if isinstance(value, Array) else (0, value)
        arr = (_Value * max(len(items), 1))(*[_to_c(i, keep) for i in items])
        keep.append(arr)
        v.type, v.lbound, v.items, v.size = ARRAY, lbound, arr, len(items)
    else:
        raise TypeError(f"no automation value for {type(value).__name__}")
    return v


class _MemberInfo(NamedTuple):
    name: str
    kind: int
    dispatch_id: int
    result: int
    params: list  # (name, type, by_ref, writes_back, optional, default)


def members():
    """Every member and event of the control's automation table, in its order."""
    out = []
    for i in range(_lib.korvelcom_member_count()):
        m, p = _Member(), _Param()
        _lib.korvelcom_member_info(i, ctypes.byref(m))
        params = []
        for j in range(m.param_count):
            _lib.korvelcom_param_info(i, j, ctypes.byref(p))
            params.append((p.name.decode(), p.type, bool(p.by_ref), bool(p.writes_back),
                           bool(p.optional), _from_c(p.default_value) if p.optional else None))
        out.append(_MemberInfo(m.name.decode(), m.kind, m.dispatch_id, m.result_type, params))
    return out


def version():
    """The library's version text."""
    return _lib.korvelcom_version().decode()


def port_map_set(port, target):
    """Maps port number `port` to a device path, tcp://HOST:PORT or rfc2217://HOST:PORT
    ("" or None removes the mapping), for the whole process."""
    _check(_lib.korvelcom_port_map_set(port, (target or "").encode()), None)


def port_map_lookup(port):
    """Where port number `port` leads now."""
    v = _Value()
    _check(_lib.korvelcom_port_map_lookup(port, ctypes.byref(v)), None)
    try:
        return _from_c(v)
    finally:
        _lib.korvelcom_value_clear(ctypes.byref(v))


def _check(status, control):
    if status != 0:
        message = _lib.korvelcom_last_error().decode("latin-1")
        tag = ""
        if control is not None and control._handle:
            tag = control._invoke("ReceiveError", GET, [])
        raise KorvelComError(message, status, tag)


_EVENTS = ("ReceivedEvent", "ErrorEvent", "AbortEnabledEvent")


class Control:
    """One KorvelComTools control on this thread's default platform (the system's serial
    ports).  Its members are listed below under their automation names."""

    def __init__(self):
        handle = _lib.korvelcom_create()
        if not handle:
            raise KorvelComError(_lib.korvelcom_last_error().decode("latin-1"), 3)
        object.__setattr__(self, "_handle", handle)
        object.__setattr__(self, "_handlers", dict.fromkeys(_EVENTS))
        object.__setattr__(self, "_callback", _EVENT_CALLBACK(self._event))
        _lib.korvelcom_set_event_callback(handle, self._callback, None)

    def close(self):
        """Closes the port and frees the control (also done when it is collected)."""
        if self._handle:
            _lib.korvelcom_destroy(self._handle)
            object.__setattr__(self, "_handle", None)

    def __del__(self):
        if getattr(self, "_handle", None):
            self.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def _event(self, _user, event, error_type):
        handler = self._handlers[_EVENTS[event - 1]]
        if handler is None:
            return
        if event == 2:
            tag = _from_c(error_type.contents)
            changed = handler(tag)
            if isinstance(changed, str) and changed != tag:
                raw = changed.encode("latin-1")
                _lib.korvelcom_value_set_string(error_type, raw, len(raw))
        else:
            handler()

    def _invoke(self, name, kind, args, writes=None):
        if not self._handle:
            raise KorvelComError("the control is closed", 2)
        keep = []
        values = (_Value * max(len(args), 1))(*[_to_c(a, keep) for a in args])
        result = _Value()
        status = _lib.korvelcom_invoke(self._handle, name.encode(), kind, values, len(args),
                                       ctypes.byref(result))
        try:
            _check(status, self)
            out = _from_c(result)
            if writes:
                back = tuple(_from_c(values[i]) for i in writes)
                out = ((out,) if out is not None or kind == GET else ()) + back
            return out
        finally:
            _lib.korvelcom_value_clear(ctypes.byref(result))
            for i in range(len(args)):
                _lib.korvelcom_value_clear(ctypes.byref(values[i]))

    def __getattr__(self, name):
        if name in _EVENTS:
            return self._handlers[name]
        raise AttributeError(f"KorvelComTools has no member {name}")

    def __setattr__(self, name, value):
        if name in _EVENTS:
            self._handlers[name] = value
        elif isinstance(getattr(type(self), name, None), property):
            object.__setattr__(self, name, value)
        else:
            raise AttributeError(f"KorvelComTools has no property {name}")


def _signature(info):
    parts = []
    for name, type_, _by_ref, writes, optional, default in info.params:
        part = f"{name}: {_TYPE_NAMES[type_]}" + (" (written back)" if writes else "")
        parts.append(part + (f" = {default!r}" if optional else ""))
    return f"{info.name}({', '.join(parts)}) -> {_TYPE_NAMES[info.result]}"


def _method(info, kind):
    writes = [i for i, p in enumerate(info.params) if p[3]]

    def call(self, *args):
        # Omitted arguments the member writes back are passed empty (their defaults apply),
        # so that the tuple has the same shape whatever the caller gave.
        args = list(args) + [None] * (max(writes, default=-1) + 1 - len(args))
        return self._invoke(info.name, kind, args, writes)
    call.__name__ = info.name
    call.__doc__ = _signature(info)
    return call


def _install():
    table = members()
    gets = {m.name: m for m in table if m.kind == GET}
    puts = {m.name: m for m in table if m.kind == PUT}
    for m in table:
        if m.kind == METHOD:
            setattr(Control, m.name, _method(m, METHOD))
        elif m.kind == GET and m.params:
            setattr(Control, m.name, _method(m, GET))
    for name in set(gets) | set(puts):
        get, put = gets.get(name), puts.get(name)
        if get is not None and get.params:
            continue
        fget = (lambda self, n=name: self._invoke(n, GET, [])) if get else None
        fset = (lambda self, v, n=name: self._invoke(n, PUT, [v])) if put else None
        kind = "read-write" if get and put else "read-only" if get else "write-only"
        typ = _TYPE_NAMES[get.result if get else put.params[0][1]]
        setattr(Control, name, property(fget, fset, doc=f"{name}: {typ}, {kind}"))


_install()
