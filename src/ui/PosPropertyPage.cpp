// The design-time "POS" property page: its layout table, the loading of the first selected
// control into the fields, the writing back of the fields, and the field handlers.  The page
// touches the control only through its automation table by name, so every value it writes
// passes the control's own checks.
#include "korvelcom/ui/PosPropertyPage.h"

#include <cmath>
#include <limits>
#include <stdexcept>

#include "korvelcom/Automation.h"
#include "korvelcom/KorvelComTools.h"
#include "ui/PosPageValues.h"
#include "util/Scramble.h"

namespace korvel::ui {

const char* const kPosPageCaption = "POS and low level protocol properties";
const char* const kPosPageHeader = "POS to EFT and readers communication protocol - KorvelCom";
const char* const kFrameLowLevel = "Low level parameters";
const char* const kFrameComPort = "COM port properties";
const char* const kFramePosHigh = "POS high level protocol";
const char* const kFrameFields = "Fields";
const char* const kFramePosDevise = "POS devise";
const char* const kDefaultCommSettings = "9600,e,7,1";

namespace {

using F = PosField;
using K = FieldKind;

// Label tooltips shared by several fields of the low-level frame.
const char* const kTipAck = "Timeout (en ms) réception ACK";
const char* const kTipResend = "Délais (en ms) avant réémission messages";
const char* const kTipSession = "Nombre de tentatives d'ouvertures de session";
const char* const kTipMessage = "Nombre de tentatives d'émission de message";
const char* const kTipSettings = "Default com settings =  9600,e,7,1";

const std::vector<PosFieldLayout>& buildLayout() {
    // clang-format off
    static const std::vector<PosFieldLayout> table = {
        // field, name, kind, frame, label, label tooltip, caption, initial text, max length,
        // tooltip, items, digits only
        {F::txtTOwaitChar, "txtTOwaitChar", K::TextBox, kFrameLowLevel,
         "Timeout wait response:", kTipAck, "", "600", 8,
         "Timeout (in ms) receive ACK default value 600ms", {}, true},
        {F::txtTOwaitRetry, "txtTOwaitRetry", K::TextBox, kFrameLowLevel,
         "Delay before Retry:", kTipResend, "", "1200", 8,
         "Delay (in ms) before a retry default value 1200ms", {}, true},
        {F::txtTOBetweenChar, "txtTOBetweenChar", K::TextBox, kFrameLowLevel,
         "Timeout between char:", kTipAck, "", "50", 8,
         "Timeout (in ms) receive character default value 50ms", {}, true},
        {F::txtTOwaitReply, "txtTOwaitReply", K::TextBox, kFrameLowLevel,
         "Delay to reply:", kTipResend, "", "20", 8,
         "Delayi (in ms) between receive and send  message default value 20ms", {}, true},
        {F::txtintgintRetrySession, "txtintgintRetrySession", K::TextBox, kFrameLowLevel,
         "Retry during open session:", kTipSession, "", "3", 2,
         "Retry during open session default value 3 retries", {}, true},
        {F::txtintgintRetryData, "txtintgintRetryData", K::TextBox, kFrameLowLevel,
         "Retry during data send:", kTipMessage, "", "3", 2,
         "Retry during message transmission default value 3 retries", {}, true},
        {F::txtTimeBetweenCommand, "txtTimeBetweenCommand", K::TextBox, kFrameLowLevel,
         "Delai bewteen commands", kTipMessage, "", "100", 4,
         "delay between command default value 100ms", {}, true},
        {F::chkEnableEscapeKey, "chkEnableEscapeKey", K::CheckBox, kFrameLowLevel,
         "", "", "EnableEscapeKey", "", 0,
         "Autorise abandon par touche 'echap' sur la caisse", {}, false},

        {F::txtCommPort, "txtCommPort", K::FixedList, kFrameComPort,
         "CommPort:", "Caisse Com port ", "", "", 0,
         "PC Com port default value = COM1 ",
         {"Com1", "Com2", "Com3", "Com4", "Com5", "Com6", "Com7", "Com8"}, false},
        {F::txtCommSettings, "txtCommSettings", K::TextBox, kFrameComPort,
         "CommSettings:", kTipSettings, "", kDefaultCommSettings, 0,
         kTipSettings, {}, false},

        {F::txtPOSNumber, "txtPOSNumber", K::TextBox, kFrameFields,
         "POSNumber (ECR#) :", "Numéro de la caisse", "", "01", 2,
         "Numéro de la caisse", {}, false},
        {F::txtPOSAmount, "txtPOSAmount", K::TextBox, kFrameFields,
         "POSAmount (MMT) :", "Montant (plus petite unité devise)", "", "00000001", 8,
         "Montant (plus petite unité devise)", {}, true},
        {F::chkPOSRep, "chkPOSRep", K::CheckBox, kFrameFields,
         "POSRep (IND) :", "Validation réponse terminal", "REP enabled", "", 0,
         "Validation réponse terminal", {}, false},
        {F::TxtPosMode, "TxtPosMode", K::FixedList, kFrameFields,
         "POSMode (MODE) :", "Mode de règlement", "", "", 0,
         "Mode de règlement", {"Carte ou chèque", "Chèque", "Autre (carte)"}, false},
        {F::txtPOSType, "txtPOSType", K::FixedList, kFrameFields,
         "POSType (TYPE) :", "Type transaction", "", "", 0,
         "Type transaction", {"Achat", "Remboursement", "Annulation", "Autre"}, false},

        {F::txtPOSDev, "txtPOSDev", K::FixedList, kFramePosDevise,
         "", "", "", "", 0,
         "Choix devise", {"Franc", "Euro", "Autre"}, false},
        {F::txtPOSDevSpec, "txtPOSDevSpec", K::TextBox, kFramePosDevise,
         "", "", "", "000", 3,
         "Code devise", {}, true},
    };
    // clang-format on
    return table;
}

// List positions with a meaning of their own.
constexpr int kDevFranc = 0;
constexpr int kDevEuro = 1;
constexpr int kDevOther = 2;
constexpr int kModeCardOrCheque = 0;
constexpr int kModeCheque = 1;
constexpr int kModeOther = 2;
constexpr int kTypeOther = 3;

// Length of `text` cut to at most `maxChars` characters (UTF-8 sequences kept whole).
std::size_t cutLength(const std::string& text, int maxChars) {
    std::size_t pos = 0;
    for (int n = 0; n < maxChars && pos < text.size(); ++n) {
        ++pos;
        while (pos < text.size() && (static_cast<unsigned char>(text[pos]) & 0xC0) == 0x80)
            ++pos;
    }
    return pos;
}

std::string getText(KorvelComTools& control, const char* name) {
    return std::get<std::string>(convertValue(getProperty(control, name), ValueType::String));
}

bool getBool(KorvelComTools& control, const char* name) {
    return std::get<bool>(convertValue(getProperty(control, name), ValueType::Bool));
}

bool isTextChangedField(PosField field) {
    return layoutOf(field).kind == FieldKind::TextBox;
}

}  // namespace

Value propertyInteger(std::string_view property, std::string_view text) {
    // A value outside the property's width is an overflow, as the assignment of an integer
    // property reports it; it ends the apply.
    const Member* put = AutomationTable::instance().find(property, MemberKind::Put);
    if (!put || put->params.size() != 1) throw AutomationError("no such property");
    const double rounded = std::nearbyint(util::leadingNumber(text));
    switch (put->params[0].type) {
        case ValueType::I16:
            if (rounded >= std::numeric_limits<int16_t>::min() &&
                rounded <= std::numeric_limits<int16_t>::max())
                return static_cast<int16_t>(rounded);
            break;
        case ValueType::I32:
            if (rounded >= std::numeric_limits<int32_t>::min() &&
                rounded <= std::numeric_limits<int32_t>::max())
                return static_cast<int32_t>(rounded);
            break;
        default:
            throw AutomationError("not an integer property");
    }
    throw AutomationError("Overflow");
}

const std::vector<PosFieldLayout>& posPageLayout() {
    return buildLayout();
}

const PosFieldLayout& layoutOf(PosField field) {
    const auto& table = buildLayout();
    const auto i = static_cast<std::size_t>(field);
    if (i >= table.size()) throw std::out_of_range("no such field of the POS page");
    return table[i];
}

PosPropertyPage::PosPropertyPage() : fields_(kPosFieldCount) {
    for (const PosFieldLayout& row : posPageLayout()) {
        if (row.kind == FieldKind::TextBox) state(row.field).text = row.initialText;
    }
}

PosPropertyPage::FieldState& PosPropertyPage::state(PosField field) {
    return fields_.at(static_cast<std::size_t>(field));
}

const PosPropertyPage::FieldState& PosPropertyPage::state(PosField field) const {
    return fields_.at(static_cast<std::size_t>(field));
}

const std::string& PosPropertyPage::text(PosField field) const {
    return state(field).text;
}
bool PosPropertyPage::checked(PosField field) const {
    return state(field).checked;
}
int PosPropertyPage::selectedIndex(PosField field) const {
    return state(field).index;
}
bool PosPropertyPage::enabled(PosField field) const {
    return state(field).enabled;
}

void PosPropertyPage::markChanged(bool value) {
    if (changed_ == value) return;
    changed_ = value;
    if (onChanged_) onChanged_(value);
}

void PosPropertyPage::notify(PosField field) {
    if (onField_) onField_(field);
}

// ---- Field changes and their handlers ------------------------------------------------------

void PosPropertyPage::putText(PosField field, std::string value) {
    FieldState& s = state(field);
    if (s.text != value) {
        s.text = std::move(value);
        notify(field);
    }
    // The text-changed handler runs for every assignment, like the edit box's change
    // notification does.
    if (isTextChangedField(field)) markChanged(true);
}

void PosPropertyPage::putChecked(PosField field, bool value) {
    FieldState& s = state(field);
    if (s.checked != value) {
        s.checked = value;
        notify(field);
    }
    markChanged(true);
}

void PosPropertyPage::putIndex(PosField field, int index) {
    FieldState& s = state(field);
    const auto& items = layoutOf(field).items;
    if (s.index != index) {
        s.index = index;
        s.text = index >= 0 ? items[static_cast<std::size_t>(index)] : "";
        notify(field);
    }
    markChanged(true);
    if (field == PosField::txtPOSDev) setEnabled(PosField::txtPOSDevSpec, index == kDevOther);
}

void PosPropertyPage::setEnabled(PosField field, bool value) {
    FieldState& s = state(field);
    if (s.enabled == value) return;
    s.enabled = value;
    notify(field);
}

// ---- The developer's actions -----------------------------------------------------------------

bool PosPropertyPage::keyPress(PosField field, char32_t key) {
    const PosFieldLayout& row = layoutOf(field);
    if (row.kind != FieldKind::TextBox || !state(field).enabled) return false;
    if (!row.digitsOnly) return true;
    if ((key >= U'0' && key <= U'9') || key == U'\b') return true;
    if (beep_) beep_();
    return false;
}

void PosPropertyPage::setText(PosField field, std::string text) {
    const PosFieldLayout& row = layoutOf(field);
    if (row.kind != FieldKind::TextBox || !state(field).enabled) return;
    if (row.maxLength > 0) text.resize(cutLength(text, row.maxLength));
    putText(field, std::move(text));
}

void PosPropertyPage::setChecked(PosField field, bool value) {
    if (layoutOf(field).kind != FieldKind::CheckBox) return;
    putChecked(field, value);
}

void PosPropertyPage::select(PosField field, int index) {
    const PosFieldLayout& row = layoutOf(field);
    if (row.kind != FieldKind::FixedList) return;
    if (index < -1 || index >= static_cast<int>(row.items.size())) return;
    putIndex(field, index);
}

void PosPropertyPage::doubleClick(PosField field) {
    if (field == PosField::txtCommSettings) putText(field, kDefaultCommSettings);
}

// ---- The host's requests ---------------------------------------------------------------------

void PosPropertyPage::selectionChanged(std::vector<KorvelComTools*> selection) {
    selection_ = std::move(selection);
    if (!selection_.empty() && selection_.front()) {
        KorvelComTools& c = *selection_.front();

        putChecked(F::chkEnableEscapeKey, getBool(c, "EscapeKeyEnabled"));

        const std::string dev = getText(c, "POSDev");
        if (dev == "250") {
            putIndex(F::txtPOSDev, kDevFranc);
        } else if (dev == "978") {
            putIndex(F::txtPOSDev, kDevEuro);
        } else {
            putIndex(F::txtPOSDev, kDevOther);
            putText(F::txtPOSDevSpec, dev);
        }

        const std::string type = getText(c, "POSType");
        putIndex(F::txtPOSType, type == "0" ? 0 : type == "1" ? 1 : type == "2" ? 2 : kTypeOther);

        const std::string mode = getText(c, "POSMode");
        putIndex(F::TxtPosMode, mode == "0"   ? kModeCardOrCheque
                                : mode == "C" ? kModeCheque
                                              : kModeOther);

        putChecked(F::chkPOSRep, getText(c, "POSRep") == "1");

        putText(F::txtPOSAmount, getText(c, "POSAmount"));
        putText(F::txtPOSNumber, getText(c, "POSNumber"));
        putText(F::txtCommSettings, getText(c, "CommSettings"));

        putText(F::txtintgintRetryData, formatValue(getProperty(c, "RetryData")));
        putText(F::txtintgintRetrySession, formatValue(getProperty(c, "RetrySession")));
        putText(F::txtTOwaitRetry, formatValue(getProperty(c, "TOwaitRetry")));
        putText(F::txtTOwaitChar, formatValue(getProperty(c, "TOwaitChar")));
        putText(F::txtTOwaitReply, formatValue(getProperty(c, "TOwaitReply")));
        putText(F::txtTOBetweenChar, formatValue(getProperty(c, "TOBetweenChar")));

        // "Com" and the port number names the item; a port without an item leaves the list
        // without a selection (and an empty text).
        const std::string port = "Com" + formatValue(getProperty(c, "CommPort"));
        const auto& ports = layoutOf(F::txtCommPort).items;
        int portIndex = -1;
        for (std::size_t i = 0; i < ports.size(); ++i) {
            if (port == ports[i]) portIndex = static_cast<int>(i);
        }
        putIndex(F::txtCommPort, portIndex);

        putText(F::txtTimeBetweenCommand, formatValue(getProperty(c, "TOWaitBetweenCommand")));
    }
    markChanged(false);
}

void PosPropertyPage::applyChanges() {
    if (!selection_.empty() && selection_.front()) {
        KorvelComTools& c = *selection_.front();

        setProperty(c, "EscapeKeyEnabled", checked(F::chkEnableEscapeKey));

        const int dev = selectedIndex(F::txtPOSDev);
        setProperty(c, "POSDev",
                    dev == kDevFranc  ? std::string("250")
                    : dev == kDevEuro ? std::string("978")
                                      : text(F::txtPOSDevSpec));

        static const char* const kTypes[] = {"0", "1", "2"};
        const int type = selectedIndex(F::txtPOSType);
        setProperty(c, "POSType", std::string(type >= 0 && type <= 2 ? kTypes[type] : "?"));

        const int mode = selectedIndex(F::TxtPosMode);
        setProperty(c, "POSMode",
                    std::string(mode == kModeCheque         ? "C"
                                : mode == kModeCardOrCheque ? "0"
                                                            : "1"));

        setProperty(c, "POSRep", std::string(checked(F::chkPOSRep) ? "1" : "0"));

        setProperty(c, "POSAmount", text(F::txtPOSAmount));
        setProperty(c, "POSNumber", text(F::txtPOSNumber));
        setProperty(c, "CommSettings", text(F::txtCommSettings));

        static const std::pair<const char*, PosField> kNumbers[] = {
            {"RetryData", F::txtintgintRetryData},
            {"RetrySession", F::txtintgintRetrySession},
            {"TOwaitRetry", F::txtTOwaitRetry},
            {"TOwaitReply", F::txtTOwaitReply},
            {"TOwaitChar", F::txtTOwaitChar},
            {"TOBetweenChar", F::txtTOBetweenChar},
            {"TOWaitBetweenCommand", F::txtTimeBetweenCommand},
        };
        for (const auto& [property, field] : kNumbers) {
            setProperty(c, property, propertyInteger(property, text(field)));
        }

        // No selection gives port 0, which the control refuses as it refuses any bad port.
        setProperty(c, "CommPort", static_cast<int16_t>(selectedIndex(F::txtCommPort) + 1));
    }
    markChanged(false);
}

}  // namespace korvel::ui
