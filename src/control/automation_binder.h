// The generic binder behind the member table: a table line names a C++ member function (or a
// getter and setter pair) and the binder deduces the parameter types, the by-reference
// parameters (non-const references, written back after the call) and the result type from
// the member pointer, and builds the call.
#pragma once

#include <array>
#include <initializer_list>
#include <tuple>
#include <type_traits>
#include <utility>

#include "korvelcom/Automation.h"
#include "korvelcom/KorvelComTools.h"

namespace korvel::binder {

using K = KorvelComTools;

/// The automation type of a C++ parameter or result type.
template <class T>
constexpr ValueType valueType() {
    using U = std::remove_cvref_t<T>;
    if constexpr (std::is_void_v<U>) {
        return ValueType::Empty;
    } else if constexpr (std::is_same_v<U, bool>) {
        return ValueType::Bool;
    } else if constexpr (std::is_same_v<U, int16_t>) {
        return ValueType::I16;
    } else if constexpr (std::is_same_v<U, int32_t>) {
        return ValueType::I32;
    } else if constexpr (std::is_same_v<U, std::string>) {
        return ValueType::String;
    } else {
        static_assert(std::is_same_v<U, ByteArray>, "no automation type for this C++ type");
        return ValueType::Bytes;
    }
}

template <class T>
constexpr bool writesBack =
    std::is_lvalue_reference_v<T> && !std::is_const_v<std::remove_reference_t<T>>;

template <class F>
struct Signature;
template <class C, class R, class... A>
struct Signature<R (C::*)(A...)> {
    using Class = C;
    using Result = R;
    using Args = std::tuple<A...>;
};
template <class C, class R, class... A>
struct Signature<R (C::*)(A...) const> : Signature<R (C::*)(A...)> {};

/// Picks one overload of a member function by its signature, e.g.
/// `pick<int16_t(const std::string&, int32_t&, int32_t&, int16_t)>(&K::cLRC8file)`.
template <class F>
constexpr F K::*pick(F K::*fn) {
    return fn;
}

/// A parameter of a table line: its name, and its default when it is optional (converted to
/// the parameter's type when the table is built).
struct Arg {
    Arg(const char* n) : name(n) {}  // NOLINT(google-explicit-constructor): table notation
    Arg(const char* n, Value d) : name(n), def(std::move(d)) {}
    const char* name;
    std::optional<Value> def;
};

/// The persisted part of a property's line: `saved(default)` and its refinements.
struct Saved {
    Value def;
    std::optional<Value> loadDef{};
    const char* key = nullptr;
    int rank = 0;
    bool unchecked = false;
    std::optional<Value> expected{};

    /// The bag's key, when it is not the property's name.
    Saved underKey(const char* k) && { return key = k, std::move(*this); }
    /// The default read with, when it differs from the default written.
    Saved loadedWith(Value d) && { return loadDef = std::move(d), std::move(*this); }
    /// Loaded at position `r` (1 up) ahead of all other entries.
    Saved loadedAt(int r) && { return rank = r, std::move(*this); }
    /// Loaded without the put's checks (fitted to its width).
    Saved stored() && { return unchecked = true, std::move(*this); }
    /// Followed by the expected operation number under the same key.
    Saved thenExpectedOperation(Value d) && { return expected = std::move(d), std::move(*this); }
};
inline Saved saved(Value def) {
    return Saved{std::move(def)};
}

template <class F>
std::vector<Param> params(std::initializer_list<Arg> args) {
    using Args = typename Signature<F>::Args;
    constexpr std::size_t n = std::tuple_size_v<Args>;
    constexpr auto types = []<std::size_t... I>(std::index_sequence<I...>) {
        return std::array<std::pair<ValueType, bool>, n>{
            std::pair{valueType<std::tuple_element_t<I, Args>>(),
                      writesBack<std::tuple_element_t<I, Args>>}...};
    }
    (std::make_index_sequence<n>());
    if (args.size() != n) throw std::logic_error("parameter names do not match the member");
    std::vector<Param> out;
    std::size_t i = 0;
    for (const Arg& a : args) {
        const auto [type, writes] = types[i++];
        out.push_back(Param{a.name, type,
                            a.def ? std::optional(convertValue(*a.def, type)) : std::nullopt,
                            writes});
    }
    return out;
}

/// The call of `Fn` with the converted arguments; references bind to the arguments
/// themselves, so what the member writes back is in `a` afterwards.
template <auto Fn>
Value call(K& c, std::vector<Value>& a) {
    using Sig = Signature<decltype(Fn)>;
    using Args = typename Sig::Args;
    return [&]<std::size_t... I>(std::index_sequence<I...>)->Value {
        if constexpr (std::is_void_v<typename Sig::Result>) {
            (c.*Fn)(std::get<std::remove_cvref_t<std::tuple_element_t<I, Args>>>(a[I])...);
            return std::monostate{};
        } else {
            return (c.*Fn)(std::get<std::remove_cvref_t<std::tuple_element_t<I, Args>>>(a[I])...);
        }
    }
    (std::make_index_sequence<std::tuple_size_v<Args>>());
}

using Line = std::vector<Member>;

template <auto Fn>
Line method(int32_t id, const char* name, std::initializer_list<Arg> args = {}) {
    using Sig = Signature<decltype(Fn)>;
    return {Member{name, MemberKind::Method, params<decltype(Fn)>(args),
                   valueType<typename Sig::Result>(), &call<Fn>, id}};
}

/// A get with parameters (an indexed read).
template <auto Fn>
Line indexed(int32_t id, const char* name, std::initializer_list<Arg> args) {
    Line l = method<Fn>(id, name, args);
    l[0].kind = MemberKind::Get;
    return l;
}

/// A read-only property; `type` overrides the getter's own (a variant that holds a string).
template <auto Get>
Line readOnly(int32_t id, const char* name, std::optional<ValueType> type = std::nullopt) {
    Line l = method<Get>(id, name);
    l[0].kind = MemberKind::Get;
    if (type) l[0].result = *type;
    return l;
}

template <auto Set>
Line writeOnly(int32_t id, const char* name) {
    Line l = method<Set>(id, name, {"value"});
    l[0].kind = MemberKind::Put;
    l[0].params[0].byRef = false;  // a property's new value is passed by value
    return l;
}

template <auto Get, auto Set>
Line property(int32_t id, const char* name, std::optional<Saved> save = std::nullopt) {
    Line l = readOnly<Get>(id, name);
    l.push_back(writeOnly<Set>(id, name)[0]);
    if (save) {
        const ValueType type = l[0].result;
        Persisted p{save->key ? save->key : name,
                    convertValue(save->def, type),
                    convertValue(save->loadDef.value_or(save->def), type),
                    save->rank,
                    save->unchecked,
                    save->expected};
        l[0].persisted = l[1].persisted = std::move(p);
    }
    return l;
}

/// An event of `KorvelComToolsEvents`: its parameters as the host's handler receives them.
template <auto Fn>
Line event(int32_t id, const char* name, std::initializer_list<Arg> args = {}) {
    return {Member{name, MemberKind::Event, params<decltype(Fn)>(args), ValueType::Empty, {}, id}};
}

/// A method whose result is a variant that is always empty: the host may assign it.
inline Line variantResult(Line l) {
    l[0].result = ValueType::Any;
    return l;
}

/// A member whose automation form is not its C++ form (variants, arrays of strings).
inline Line custom(int32_t id, const char* name, MemberKind kind, std::vector<Param> params,
                   ValueType result, Member::Invoker call) {
    return {Member{name, kind, std::move(params), result, std::move(call), id}};
}

}  // namespace korvel::binder
