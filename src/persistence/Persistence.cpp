// Saving and loading the control's persisted properties through the container's property bag,
// and new-instance initialisation.  What is saved, under which key and with which default
// comes from the member table (see persistence/PersistedSet.h).  Every entry is a step of its
// own: a failure (a value that does not convert, a setting the port refuses, a bag that
// throws) skips that entry only.
#include "control/Guarded.h"
#include "extended/Exchange.h"
#include "extended/ExtendedFields.h"
#include "korvelcom/PropertyBags.h"
#include "persistence/PersistedSet.h"
#include "pos/PosFields.h"
#include "util/FixedWidth.h"

namespace korvel {

using persistence::Entry;

void KorvelComTools::WriteProperties(PropertyBag& bag) {
    for (const Entry& e : persistence::savingOrder())
        ignoreFailure([&] {
            std::vector<Value> none;
            const PropValue value = e.expectedOperation
                                        ? PropValue(ext_->state().expectedOperation)
                                        : persistence::toPropValue(e.get->call(*this, none));
            bag.write(e.key, value, e.saveDefault);
        });
}

void KorvelComTools::ReadProperties(PropertyBag& bag) {
    // Loading announces nothing: the container's hook is away while the puts run.
    auto hook = std::exchange(propertyChanged_, nullptr);
    // A value stored as loading does: text fitted to its field, no check, no tag.
    const auto storeUnchecked = [this](const std::string& name, const PropValue& v) {
        if (name == "POSTimeout") {
            posTimeout_ = std::get<int32_t>(v);
            return;
        }
        const std::string& text = std::get<std::string>(v);
        if (storeExtendedFieldUnchecked(name, text)) return;
        for (const pos::RequestFieldInfo& info : pos::requestFields())
            if (name == info.name)
                return void(pos::threadRecord().request.at(static_cast<std::size_t>(info.field)) =
                                util::fitLeft(text, info.width));
        throw std::logic_error("no unchecked store for " + name);
    };
    for (const Entry* e : persistence::loadingOrder()) {
        ignoreFailure([&] {
            // The bag converts to the default's type; converting again guards against a bag
            // that hands back something else.
            const PropValue v = convertPropValue(bag.read(e->key, e->loadDefault), e->loadDefault);
            if (e->expectedOperation) {
                ext_->state().expectedOperation =
                    util::fitLeft(std::get<std::string>(v), ext::info(ext::Field::Operation).width);
            } else if (e->unchecked) {
                storeUnchecked(e->put->name, v);
            } else {
                std::vector<Value> args{persistence::fromPropValue(v)};
                e->put->call(*this, args);
            }
        });
    }
    propertyChanged_ = std::move(hook);
}

void KorvelComTools::InitProperties() {
    InitNewInstance();
}

}  // namespace korvel
