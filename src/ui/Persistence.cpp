// Saving and loading the control's persisted properties through the container's property bag,
// and new-instance initialisation.  Every entry is a step of its own: a failure (a value that
// does not convert, a setting the port refuses, a bag that throws) skips that entry only.
#include "control/Guarded.h"
#include "extended/Exchange.h"
#include "korvelcom/PropertyBags.h"
#include "pos/PosFields.h"
#include "ui/PersistedProperties.h"
#include "util/FixedWidth.h"

namespace korvel {

using ui::PersistedRow;
using ui::Target;

void KorvelComTools::WriteProperties(PropertyBag& bag) {
    auto valueOf = [this](const PersistedRow& row) -> PropValue {
        switch (row.target) {
            case Target::CommPort:
                return comm_->commPort();
            case Target::CommSettings:
                return comm_->settings();
            case Target::LinkI32:
                return st_.*row.i32;
            case Target::LinkI16:
                return st_.*row.i16;
            case Target::LinkFlag:
                return st_.*row.flag;
            case Target::PosField:
                return pos::threadRecord().request.at(row.index);
            case Target::PosTimeout:
                return posTimeout_;
            case Target::ExtField:
                return ext_->state().fields.at(row.index);
            case Target::ExpectedOperation:
                return ext_->state().expectedOperation;
            case Target::FunctionTimeout:
                return ext_->state().timeouts.at(row.index);
            case Target::IncSequence:
                return ext_->state().incSequenceEnabled;
        }
        throw std::logic_error("unknown persisted target");
    };
    for (const PersistedRow& row : ui::persistedRows())
        ignoreFailure([&] { bag.write(row.key, valueOf(row), row.saveDefault); });
}

void KorvelComTools::ReadProperties(PropertyBag& bag) {
    for (const std::size_t i : ui::loadOrder()) {
        const PersistedRow& row = ui::persistedRows()[i];
        ignoreFailure([&] {
            // The bag converts to the default's type; converting again guards against a bag
            // that hands back something else.
            const PropValue v =
                convertPropValue(bag.read(row.key, row.loadDefault), row.loadDefault);
            switch (row.target) {
                case Target::CommPort:
                    comm_->setCommPort(std::get<int16_t>(v));
                    break;
                case Target::CommSettings:
                    comm_->setSettings(std::get<std::string>(v));
                    break;
                case Target::LinkI32:
                    st_.*row.i32 = std::get<int32_t>(v);
                    break;
                case Target::LinkI16:
                    st_.*row.i16 = std::get<int16_t>(v);
                    break;
                case Target::LinkFlag:
                    st_.*row.flag = std::get<bool>(v);
                    break;
                case Target::PosField:
                    pos::threadRecord().request.at(row.index) =
                        util::fitLeft(std::get<std::string>(v), row.width);
                    break;
                case Target::PosTimeout:
                    posTimeout_ = std::get<int32_t>(v);
                    break;
                case Target::ExtField:
                    ext_->state().store(static_cast<ext::Field>(row.index),
                                        std::get<std::string>(v));
                    break;
                case Target::ExpectedOperation:
                    ext_->state().expectedOperation =
                        util::fitLeft(std::get<std::string>(v), row.width);
                    break;
                case Target::FunctionTimeout:
                    ext_->state().timeouts.at(row.index) = std::get<int32_t>(v);
                    break;
                case Target::IncSequence:
                    ext_->state().incSequenceEnabled = std::get<bool>(v);
                    break;
            }
        });
    }
}

void KorvelComTools::InitProperties() {
    InitNewInstance();
}

}  // namespace korvel
