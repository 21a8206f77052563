// The design-time "POS" property page as a toolkit-free model: layout, field state, the
// developer's actions and the host's two requests (load the selection, apply the edits).  A
// front draws the layout, forwards input and redraws the fields the model reports.  The page
// reaches the control only through its properties by name, so every value passes the
// control's own checks.  Overview: docs/persistence-and-ui.md.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "korvelcom/Export.h"

namespace korvel {
class KorvelComTools;
}

namespace korvel::ui {

/// The fields of the page, in the order of the layout table.
enum class PosField : int {
    // frame "Low level parameters"
    txtTOwaitChar,
    txtTOwaitRetry,
    txtTOBetweenChar,
    txtTOwaitReply,
    txtintgintRetrySession,
    txtintgintRetryData,
    txtTimeBetweenCommand,
    chkEnableEscapeKey,
    // frame "COM port properties"
    txtCommPort,
    txtCommSettings,
    // frame "POS high level protocol", inner frame "Fields"
    txtPOSNumber,
    txtPOSAmount,
    chkPOSRep,
    TxtPosMode,
    txtPOSType,
    // frame "POS high level protocol", inner frame "POS devise"
    txtPOSDev,
    txtPOSDevSpec,
};
inline constexpr int kPosFieldCount = 17;

enum class FieldKind { TextBox, CheckBox, FixedList };

/// One field as the page shows it.  Empty texts mean "none".
struct PosFieldLayout {
    PosField field;
    const char* name;  ///< the field's name, e.g. "txtTOwaitChar"
    FieldKind kind;
    const char* frame;         ///< the frame holding it ("Low level parameters", "Fields", ...)
    const char* label;         ///< the label beside or above it
    const char* labelTooltip;  ///< the label's own tooltip
    const char* caption;       ///< a check box's caption ("EnableEscapeKey", "REP enabled")
    const char* initialText;   ///< a text box's initial text
    int maxLength;             ///< a text box's maximum length in characters; 0: no limit
    const char* tooltip;       ///< the field's tooltip
    std::vector<const char*> items;  ///< a fixed list's items, addressed from position 0
    bool digitsOnly;                 ///< whether the key filter guards it
};

/// The page's caption: "POS and low level protocol properties".
KORVELCOM_API extern const char* const kPosPageCaption;
/// The header label across the top: "POS to EFT and readers communication protocol" followed
/// by the maker's line.
KORVELCOM_API extern const char* const kPosPageHeader;
/// The outer frames in display order, and the two inner frames of the last one.
KORVELCOM_API extern const char* const kFrameLowLevel;  ///< "Low level parameters"
KORVELCOM_API extern const char* const kFrameComPort;   ///< "COM port properties"
KORVELCOM_API extern const char* const kFramePosHigh;   ///< "POS high level protocol"
KORVELCOM_API extern const char* const
    kFrameFields;  ///< "Fields" (inside "POS high level protocol")
KORVELCOM_API extern const char* const
    kFramePosDevise;  ///< "POS devise" (inside "POS high level protocol")
/// The text a double-click puts into `txtCommSettings`: "9600,e,7,1".
KORVELCOM_API extern const char* const kDefaultCommSettings;

/// The layout of every field, in `PosField` order.
KORVELCOM_API const std::vector<PosFieldLayout>& posPageLayout();
/// The layout row of one field.
KORVELCOM_API const PosFieldLayout& layoutOf(PosField field);

/// The page model.  Not thread-safe (runs on the host's UI thread like the control).
class KORVELCOM_API PosPropertyPage {
  public:
    /// A freshly loaded page: text boxes hold their initial texts, check boxes are cleared,
    /// fixed lists have no selection (-1), `txtPOSDevSpec` is switched on, no changed mark.
    PosPropertyPage();

    // ---- The host's requests -----------------------------------------------------------

    /// Keeps the selection, fills the fields from its first control (nothing when empty or
    /// null; texts not cut; a `CommPort` outside 1 to 8 selects nothing) and clears the
    /// changed mark.  An `AutomationError` from a get ends the load and reaches the caller.
    void selectionChanged(std::vector<KorvelComTools*> selection);

    /// Writes the fields to the first selected control and clears the changed mark; a value
    /// the control refuses is reported by its put (tag) and the page goes on.  Number boxes
    /// give their leading number rounded half to even.  Throws `AutomationError("Overflow")`
    /// for a number too large for its property, and passes a put's `AutomationError` on; the
    /// mark then stays set.
    void applyChanges();

    /// The changed mark: true while the page holds edits not yet applied.
    bool changed() const { return changed_; }

    // ---- Field state, for drawing ------------------------------------------------------

    /// A text box's text, or a fixed list's selected item ("" when none is selected).
    const std::string& text(PosField field) const;
    /// A check box's state.
    bool checked(PosField field) const;
    /// A fixed list's selected position, -1 when none.
    int selectedIndex(PosField field) const;
    /// Whether a field is switched on; only `txtPOSDevSpec` is ever switched off.
    bool enabled(PosField field) const;

    // ---- The developer's actions (each runs the field's handler) -------------------------

    /// A key typed into a text box, as the character it produces ('\b' for backspace).
    /// Returns true when the key passes; a refused key sounds the beep and is discarded.  Only
    /// the boxes marked `digitsOnly` filter (digits and backspace pass); other text boxes pass
    /// every key.  A key for a field that is not a text box, or is switched off, returns false
    /// without a beep.
    bool keyPress(PosField field, char32_t key);
    /// A text box's text was changed to `text` (cut to its maximum length in characters,
    /// UTF-8 sequences kept whole).  Sets the changed mark even when the text is the same.
    /// Ignored for a field that is not a text box or is switched off.
    void setText(PosField field, std::string text);
    /// A check box was clicked to the state `checked`; sets the changed mark.  Ignored for a
    /// field that is not a check box.
    void setChecked(PosField field, bool checked);
    /// An item of a fixed list was chosen (-1: none); sets the changed mark, and for
    /// `txtPOSDev` switches `txtPOSDevSpec` on exactly when "Autre" is selected.  Ignored for a
    /// field that is not a fixed list and for a position outside -1 to the last item.
    void select(PosField field, int index);
    /// A field was double-clicked: `txtCommSettings` gets "9600,e,7,1" (and the changed
    /// mark); the other fields do nothing.
    void doubleClick(PosField field);

    // ---- What the page tells its front ---------------------------------------------------

    /// Called for a refused key (the front sounds the system beep).
    void setBeepHandler(std::function<void()> beep) { beep_ = std::move(beep); }
    /// Called with the new value whenever the changed mark changes.
    void setChangedHandler(std::function<void(bool)> handler) { onChanged_ = std::move(handler); }
    /// Called after a field's state (text, check, selection, switched on) changed, whoever
    /// changed it, so the front redraws that field.
    void setFieldObserver(std::function<void(PosField)> observer) {
        onField_ = std::move(observer);
    }

  private:
    struct FieldState {
        std::string text;
        bool checked = false;
        int index = -1;
        bool enabled = true;
    };
    FieldState& state(PosField field);
    const FieldState& state(PosField field) const;
    void markChanged(bool value);
    void notify(PosField field);
    // A field's state changes, each followed by the field's own handler (changed mark, and
    // for `txtPOSDev` the switching of `txtPOSDevSpec`); used by the actions and the loading.
    void putText(PosField field, std::string value);
    void putChecked(PosField field, bool value);
    void putIndex(PosField field, int index);
    void setEnabled(PosField field, bool value);

    std::vector<FieldState> fields_;
    std::vector<KorvelComTools*> selection_;
    bool changed_ = false;
    std::function<void()> beep_;
    std::function<void(bool)> onChanged_;
    std::function<void(PosField)> onField_;
};

}  // namespace korvel::ui
