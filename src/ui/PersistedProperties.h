// The persisted property set as data: one row per saved entry, in the order of saving, with
// the key, where the value lives in the control, its type, fixed width and defaults; and the
// order of loading.  The control's saving and loading walk these rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "korvelcom/KorvelComTools.h"
#include "korvelcom/platform/PropertyBag.h"

namespace korvel::ui {

/// Where a row's value lives.
enum class Target {
    CommPort,           ///< `Comm`'s port number (not kept in the control state)
    CommSettings,       ///< `Comm`'s line settings (likewise)
    LinkI32,            ///< a signed 32-bit field of the link state (`i32`)
    LinkI16,            ///< a signed 16-bit field of the link state (`i16`)
    LinkFlag,           ///< a boolean field of the link state (`flag`)
    PosField,           ///< a thread-shared basic request field (`index`: pos::RequestField)
    PosTimeout,         ///< `POSTimeout`
    ExtField,           ///< an extended request field (`index`: ext::Field)
    ExpectedOperation,  ///< the operation number the payment replies must carry
    FunctionTimeout,    ///< a function time-out (`index`: ext::Timeout)
    IncSequence,        ///< `POSAutoIncSequenceEnabled`
};

struct PersistedRow {
    const char* key;  ///< the bag's key
    Target target;
    std::size_t index = 0;
    int32_t LinkState::*i32 = nullptr;
    int16_t LinkState::*i16 = nullptr;
    bool LinkState::*flag = nullptr;
    std::size_t width = 0;    ///< fixed width of a string field that loading fits to; 0: none
    PropValue saveDefault{};  ///< the default written with the value
    PropValue loadDefault{};  ///< the default read with (differs only for "POSAutoTimeOut")
};

/// The 62 rows in the order of saving.
const std::vector<PersistedRow>& persistedRows();

/// Indices into `persistedRows()` in the order of loading: the link parameters and line
/// settings in their own order first, then the request fields onwards as saved.
const std::vector<std::size_t>& loadOrder();

}  // namespace korvel::ui
