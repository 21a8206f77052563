// The C interface over the automation table: tagged C values to and from `Value`s, calls by
// name with write-back, the event callback, introspection and the port map.  No C++
// exception leaves a function of this file.
#include "korvelcom/korvelcom.h"

#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "korvelcom/Automation.h"
#include "korvelcom/KorvelComTools.h"
#include "korvelcom/platform/Endpoint.h"
#include "korvelcom/platform/Platform.h"

namespace {

using namespace korvel;

thread_local std::string lastError;

korvelcom_status fail(korvelcom_status status, std::string what) {
    lastError = std::move(what);
    return status;
}

/// A C value that does not make a `Value` (an unknown tag, a number out of its range).
struct BadValue {
    std::string what;
};

Value toValue(const korvelcom_value& v) {
    switch (v.type) {
        case KORVELCOM_EMPTY:
            return std::monostate{};
        case KORVELCOM_BOOL:
            return v.number != 0;
        case KORVELCOM_I16:
            if (v.number < std::numeric_limits<int16_t>::min() ||
                v.number > std::numeric_limits<int16_t>::max())
                throw BadValue{"a 16-bit value out of its range"};
            return static_cast<int16_t>(v.number);
        case KORVELCOM_I32:
            return v.number;
        case KORVELCOM_STRING:
            return v.size ? std::string(v.bytes, v.size) : std::string();
        case KORVELCOM_BYTES: {
            const auto* b = reinterpret_cast<const uint8_t*>(v.bytes);
            return ByteArray(v.lbound,
                             v.size ? std::vector<uint8_t>(b, b + v.size) : std::vector<uint8_t>());
        }
        case KORVELCOM_ARRAY: {
            VariantArray a{v.lbound, {}};
            for (std::size_t i = 0; i < v.size; ++i)
                a.elements.push_back(toValue(v.items[i]));
            return a;
        }
        default:
            throw BadValue{"a value of unknown type " + std::to_string(v.type)};
    }
}

// Fills `out` (empty on entry) with a library-owned copy of `value`.  Throws std::bad_alloc.
void fromValue(const Value& value, korvelcom_value& out) {
    out = korvelcom_value{};
    auto copyBytes = [&](const void* data, std::size_t size) {
        out.bytes = static_cast<char*>(std::malloc(size + 1));
        if (!out.bytes) throw std::bad_alloc();
        if (size) std::memcpy(out.bytes, data, size);
        out.bytes[size] = '\0';
        out.size = size;
        out.owned = 1;
    };
    if (std::holds_alternative<bool>(value)) {
        out.type = KORVELCOM_BOOL;
        out.number = std::get<bool>(value) ? 1 : 0;
    } else if (const auto* i = std::get_if<int16_t>(&value)) {
        out.type = KORVELCOM_I16;
        out.number = *i;
    } else if (const auto* l = std::get_if<int32_t>(&value)) {
        out.type = KORVELCOM_I32;
        out.number = *l;
    } else if (const auto* s = std::get_if<std::string>(&value)) {
        out.type = KORVELCOM_STRING;
        copyBytes(s->data(), s->size());
    } else if (const auto* b = std::get_if<ByteArray>(&value)) {
        out.type = KORVELCOM_BYTES;
        out.lbound = b->lbound;
        copyBytes(b->bytes.data(), b->bytes.size());
    } else if (const auto* a = std::get_if<VariantArray>(&value)) {
        out.type = KORVELCOM_ARRAY;
        out.lbound = a->lbound;
        out.owned = 1;
        out.items = static_cast<korvelcom_value*>(
            std::calloc(a->elements.size() + 1, sizeof(korvelcom_value)));
        if (!out.items) throw std::bad_alloc();
        for (const Value& e : a->elements) {
            fromValue(e, out.items[out.size]);  // counted once made, so a failure frees it
            ++out.size;
        }
    }
}

int32_t typeCode(ValueType t) {
    switch (t) {
        case ValueType::Empty:
            return KORVELCOM_EMPTY;
        case ValueType::Bool:
            return KORVELCOM_BOOL;
        case ValueType::I16:
            return KORVELCOM_I16;
        case ValueType::I32:
            return KORVELCOM_I32;
        case ValueType::String:
            return KORVELCOM_STRING;
        case ValueType::Bytes:
            return KORVELCOM_BYTES;
        case ValueType::Any:
            return KORVELCOM_ANY;
        case ValueType::Array:
            return KORVELCOM_ARRAY;
    }
    return KORVELCOM_EMPTY;
}

// Relays the control's events to the C callback.
struct CallbackEvents : KorvelComToolsEvents {
    korvelcom_event_callback callback = nullptr;
    void* user = nullptr;

    void ReceivedEvent() override {
        if (callback) callback(user, KORVELCOM_RECEIVED_EVENT, nullptr);
    }
    void ErrorEvent(std::string& errType) override {
        if (!callback) return;
        korvelcom_value v{};
        fromValue(errType, v);
        callback(user, KORVELCOM_ERROR_EVENT, &v);
        if (v.type == KORVELCOM_STRING) errType.assign(v.bytes ? v.bytes : "", v.size);
        korvelcom_value_clear(&v);
    }
    void AbortEnabledEvent() override {
        if (callback) callback(user, KORVELCOM_ABORT_ENABLED_EVENT, nullptr);
    }
};

// Runs `body`, turning every exception into a status.
template <class F>
korvelcom_status guarded(F&& body) {
    try {
        lastError.clear();
        return body();
    } catch (const BadValue& e) {
        return fail(KORVELCOM_BAD_ARGS, e.what);
    } catch (const std::bad_alloc&) {
        return fail(KORVELCOM_NO_MEMORY, "out of memory");
    } catch (const AutomationError& e) {
        return fail(KORVELCOM_FAILED, e.what());
    } catch (const std::exception& e) {
        return fail(KORVELCOM_FAILED, e.what());
    } catch (...) {
        return fail(KORVELCOM_FAILED, "unknown failure");
    }
}

const std::vector<Member>& members() {
    return AutomationTable::instance().members();
}

}  // namespace

struct korvelcom_control {
    std::unique_ptr<KorvelComTools> control;
    CallbackEvents events;
};

extern "C" {

const char* korvelcom_version(void) {
    return KORVELCOM_VERSION_TEXT;
}

int korvelcom_interface_version(void) {
    return KORVELCOM_C_INTERFACE_VERSION;
}

const char* korvelcom_last_error(void) {
    return lastError.c_str();
}

korvelcom_control* korvelcom_create_on(korvelcom_platform* platform) {
    korvelcom_control* made = nullptr;
    guarded([&] {
        auto c = std::make_unique<korvelcom_control>();
        c->control =
            platform
                ? std::make_unique<KorvelComTools>(*reinterpret_cast<korvel::Platform*>(platform))
                : std::make_unique<KorvelComTools>();
        c->control->setEventSink(&c->events);
        made = c.release();
        return KORVELCOM_OK;
    });
    return made;
}

korvelcom_control* korvelcom_create(void) {
    return korvelcom_create_on(nullptr);
}

void korvelcom_destroy(korvelcom_control* control) {
    guarded([&] {
        delete control;
        return KORVELCOM_OK;
    });
}

void korvelcom_set_event_callback(korvelcom_control* control, korvelcom_event_callback callback,
                                  void* user) {
    if (!control) return;
    control->events.callback = callback;
    control->events.user = user;
}

korvelcom_status korvelcom_invoke(korvelcom_control* control, const char* name, korvelcom_kind kind,
                                  korvelcom_value* args, size_t count, korvelcom_value* result) {
    return guarded([&] {
        if (!control || !name || (count && !args))
            return fail(KORVELCOM_BAD_ARGS, "a null control, name or argument list");
        if (kind < KORVELCOM_GET || kind > KORVELCOM_METHOD)
            return fail(KORVELCOM_NO_MEMBER, "events are raised, not called");
        const Member* m = AutomationTable::instance().find(name, static_cast<MemberKind>(kind));
        if (!m) return fail(KORVELCOM_NO_MEMBER, std::string("no such member: ") + name);
        if (count > m->params.size())
            return fail(KORVELCOM_BAD_ARGS, m->name + ": too many arguments");
        // Converted here, so that a refused argument is told apart from a failing member.
        std::vector<Value> values(count);
        for (std::size_t i = 0; i < count; ++i) {
            values[i] = toValue(args[i]);
            if (std::holds_alternative<std::monostate>(values[i])) continue;
            try {
                values[i] = convertValue(values[i], m->params[i].type);
            } catch (const AutomationError& e) {
                return fail(KORVELCOM_BAD_ARGS,
                            m->name + ": argument " + m->params[i].name + ": " + e.what());
            }
        }
        for (std::size_t i = 0; i < m->params.size(); ++i) {
            const Param& p = m->params[i];
            const bool omitted = i >= count || std::holds_alternative<std::monostate>(values[i]);
            if (omitted && !p.defaultValue && p.type != ValueType::Array)
                return fail(KORVELCOM_BAD_ARGS,
                            m->name + ": argument " + p.name + " is not optional");
        }
        const Value out = invoke(*control->control, *m, values);
        // Everything is made before anything is handed over, so a failure changes nothing.
        std::vector<korvelcom_value> written(count);
        korvelcom_value made{};
        try {
            for (std::size_t i = 0; i < count; ++i)
                if (m->params[i].writesBack) fromValue(values[i], written[i]);
            if (result) fromValue(out, made);
        } catch (...) {
            for (korvelcom_value& w : written)
                korvelcom_value_clear(&w);
            korvelcom_value_clear(&made);
            throw;
        }
        for (std::size_t i = 0; i < count; ++i) {
            if (!m->params[i].writesBack) continue;
            if (args[i].owned) korvelcom_value_clear(&args[i]);
            args[i] = written[i];
        }
        if (result) *result = made;
        return KORVELCOM_OK;
    });
}

korvelcom_status korvelcom_get(korvelcom_control* control, const char* name,
                               korvelcom_value* result) {
    return korvelcom_invoke(control, name, KORVELCOM_GET, nullptr, 0, result);
}

korvelcom_status korvelcom_put(korvelcom_control* control, const char* name,
                               const korvelcom_value* value) {
    if (!value) return fail(KORVELCOM_BAD_ARGS, "a null value");
    korvelcom_value copy = *value;  // a put writes nothing back
    return korvelcom_invoke(control, name, KORVELCOM_PUT, &copy, 1, nullptr);
}

korvelcom_status korvelcom_call(korvelcom_control* control, const char* name, korvelcom_value* args,
                                size_t count, korvelcom_value* result) {
    return korvelcom_invoke(control, name, KORVELCOM_METHOD, args, count, result);
}

void korvelcom_value_clear(korvelcom_value* value) {
    if (!value) return;
    if (value->owned) {
        if (value->items) {
            for (std::size_t i = 0; i < value->size; ++i)
                korvelcom_value_clear(&value->items[i]);
            std::free(value->items);
        }
        std::free(value->bytes);
    }
    *value = korvelcom_value{};
}

korvelcom_status korvelcom_value_set_string(korvelcom_value* value, const char* data, size_t size) {
    if (!value || (size && !data)) return fail(KORVELCOM_BAD_ARGS, "a null value or text");
    return guarded([&] {
        korvelcom_value made{};
        fromValue(Value(std::string(data ? data : "", size)), made);
        korvelcom_value_clear(value);
        *value = made;
        return KORVELCOM_OK;
    });
}

size_t korvelcom_member_count(void) {
    size_t n = 0;
    guarded([&] {
        n = members().size();
        return KORVELCOM_OK;
    });
    return n;
}

korvelcom_status korvelcom_member_info(size_t index, korvelcom_member* out) {
    return guarded([&] {
        if (!out || index >= members().size())
            return fail(KORVELCOM_BAD_ARGS, "no member at that index");
        const Member& m = members()[index];
        *out = korvelcom_member{m.name.c_str(), static_cast<int32_t>(m.kind), m.id,
                                typeCode(m.result), m.params.size()};
        return KORVELCOM_OK;
    });
}

korvelcom_status korvelcom_param_info(size_t index, size_t param, korvelcom_param* out) {
    return guarded([&] {
        if (!out || index >= members().size() || param >= members()[index].params.size())
            return fail(KORVELCOM_BAD_ARGS, "no parameter at that index");
        // Defaults converted once and kept for the process's lifetime (freed at its exit).
        struct Kept {
            korvelcom_value v{};
            Kept() = default;
            Kept(Kept&& o) noexcept : v(std::exchange(o.v, korvelcom_value{})) {}
            ~Kept() { korvelcom_value_clear(&v); }
        };
        static const std::deque<std::vector<Kept>> defaults = [] {
            std::deque<std::vector<Kept>> all;
            for (const Member& m : members()) {
                all.emplace_back(m.params.size());
                for (std::size_t i = 0; i < m.params.size(); ++i)
                    if (m.params[i].defaultValue)
                        fromValue(*m.params[i].defaultValue, all.back()[i].v);
            }
            return all;
        }();
        const Param& p = members()[index].params[param];
        korvelcom_value d = defaults[index][param].v;
        d.owned = 0;  // the library keeps it; clearing the copy frees nothing
        *out = korvelcom_param{p.name.c_str(),       typeCode(p.type),       p.byRef ? 1 : 0,
                               p.writesBack ? 1 : 0, p.defaultValue ? 1 : 0, d};
        return KORVELCOM_OK;
    });
}

korvelcom_status korvelcom_port_map_set(int16_t port, const char* target) {
    return guarded([&] {
        PortMap::set(port, target ? target : "");
        return KORVELCOM_OK;
    });
}

korvelcom_status korvelcom_port_map_lookup(int16_t port, korvelcom_value* out) {
    if (!out) return fail(KORVELCOM_BAD_ARGS, "a null value");
    return guarded([&] {
        korvelcom_value made{};
        fromValue(Value(PortMap::lookup(port)), made);
        *out = made;
        return KORVELCOM_OK;
    });
}

}  // extern "C"
