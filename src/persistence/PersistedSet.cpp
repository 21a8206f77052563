// The persisted entries, read once from the member table's persisted lines.
#include "persistence/PersistedSet.h"

#include <algorithm>
#include <stdexcept>

namespace korvel::persistence {

PropValue toPropValue(const Value& value) {
    return std::visit(
        [](const auto& v) -> PropValue {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_constructible_v<PropValue, T> && !std::is_same_v<T, ByteArray>)
                return v;
            else
                throw std::logic_error("a property bag holds no such value");
        },
        value);
}

Value fromPropValue(const PropValue& value) {
    return std::visit([](const auto& v) -> Value { return v; }, value);
}

const std::vector<Entry>& savingOrder() {
    static const std::vector<Entry> entries = [] {
        std::vector<Entry> out;
        const AutomationTable& table = AutomationTable::instance();
        for (const Member& m : table.members()) {
            if (m.kind != MemberKind::Get || !m.persisted) continue;
            const Persisted& p = *m.persisted;
            const Member* put = table.find(m.name, MemberKind::Put);
            out.push_back(Entry{&m, put, p.key, toPropValue(p.saveDefault),
                                toPropValue(p.loadDefault), p.unchecked, false});
            if (p.expectedOperation) {
                const PropValue d = toPropValue(*p.expectedOperation);
                out.push_back(Entry{&m, put, p.key, d, d, true, true});
            }
        }
        return out;
    }();
    return entries;
}

const std::vector<const Entry*>& loadingOrder() {
    static const std::vector<const Entry*> order = [] {
        std::vector<const Entry*> out;
        for (const Entry& e : savingOrder())
            out.push_back(&e);
        const auto rank = [](const Entry* e) {
            const int r = e->expectedOperation ? 0 : e->get->persisted->loadRank;
            return r == 0 ? INT32_MAX : r;
        };
        std::stable_sort(out.begin(), out.end(),
                         [&](const Entry* a, const Entry* b) { return rank(a) < rank(b); });
        return out;
    }();
    return order;
}

}  // namespace korvel::persistence
