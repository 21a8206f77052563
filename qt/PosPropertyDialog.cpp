#include "qt/PosPropertyDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <map>
#include <string>

namespace korvel::qt {
namespace {

using ui::FieldKind;
using ui::PosField;
using ui::PosFieldLayout;

QString text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

/// QLineEdit's own "no limit".
constexpr int kNoLimit = 32767;

/// A group box with a two-column grid: labels on the left, fields on the right.
struct Frame {
    QGroupBox* box = nullptr;
    QGridLayout* grid = nullptr;
    int nextRow = 0;
    int inlineRow = -1;  ///< the row holding fields without labels side by side
    int inlineColumn = 0;
};

}  // namespace

PosPropertyDialog::PosPropertyDialog(std::vector<KorvelComTools*> selection, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(text(ui::kPosPageCaption));
    setObjectName("POS");
    // A fault is shown in a window-modal box that does not block: the first load runs inside
    // this constructor, before a caller could choose another handler.
    faultHandler_ = [this](const QString& message) {
        auto* box =
            new QMessageBox(QMessageBox::Warning, windowTitle(), message, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    };
    page_.setBeepHandler([this] {
        ++beeps_;
        QApplication::beep();
    });
    page_.setChangedHandler([this](bool changed) { apply_->setEnabled(changed); });
    page_.setFieldObserver([this](PosField field) { redraw(field); });

    buildWidgets();
    layOut();
    for (const PosFieldLayout& row : ui::posPageLayout())
        redraw(row.field);
    apply_->setEnabled(page_.changed());
    setSelection(std::move(selection));
}

PosPropertyDialog::~PosPropertyDialog() {
    // The model outlives the widgets' last signals only if it stops calling into them.
    page_.setFieldObserver(nullptr);
    page_.setChangedHandler(nullptr);
    page_.setBeepHandler(nullptr);
}

QWidget* PosPropertyDialog::fieldWidget(PosField field) const {
    return fields_.at(static_cast<std::size_t>(field));
}

QLabel* PosPropertyDialog::fieldLabel(PosField field) const {
    return labels_.at(static_cast<std::size_t>(field));
}

PosField PosPropertyDialog::fieldOf(const QObject* widget) const {
    for (std::size_t i = 0; i < fields_.size(); ++i)
        if (fields_[i] == widget) return static_cast<PosField>(i);
    return static_cast<PosField>(-1);
}

QWidget* PosPropertyDialog::makeField(const PosFieldLayout& row) {
    const PosField field = row.field;
    QWidget* widget = nullptr;
    switch (row.kind) {
        case FieldKind::TextBox: {
            auto* edit = new QLineEdit(this);
            const int chars = row.maxLength > 0 ? row.maxLength : 14;
            edit->setFixedWidth(edit->fontMetrics().horizontalAdvance(QString(chars + 2, '0')) +
                                12);
            // Every character reaches the box through its key filter: no input method, no
            // dropped text, no context menu paste.
            if (row.digitsOnly) {
                edit->setAttribute(Qt::WA_InputMethodEnabled, false);
                edit->setAcceptDrops(false);
                edit->setContextMenuPolicy(Qt::NoContextMenu);
            }
            connect(edit, &QLineEdit::textEdited, this, [this, field](const QString& value) {
                page_.setText(field, value.toStdString());
                redraw(field);
            });
            widget = edit;
            break;
        }
        case FieldKind::CheckBox: {
            auto* check = new QCheckBox(text(row.caption), this);
            connect(check, &QCheckBox::clicked, this, [this, field](bool checked) {
                page_.setChecked(field, checked);
                redraw(field);
            });
            widget = check;
            break;
        }
        case FieldKind::FixedList: {
            auto* list = new QComboBox(this);
            list->setEditable(false);
            for (const char* item : row.items)
                list->addItem(text(item));
            list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
            connect(list, &QComboBox::activated, this, [this, field](int index) {
                page_.select(field, index);
                redraw(field);
            });
            widget = list;
            break;
        }
    }
    widget->setObjectName(row.name);
    widget->setToolTip(text(row.tooltip));
    widget->installEventFilter(this);
    return widget;
}

void PosPropertyDialog::buildWidgets() {
    header_ = new QLabel(text(ui::kPosPageHeader), this);
    header_->setObjectName("header");
    QFont bold = header_->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.15);
    header_->setFont(bold);

    for (const PosFieldLayout& row : ui::posPageLayout()) {
        const auto i = static_cast<std::size_t>(row.field);
        fields_.at(i) = makeField(row);
        if (*row.label) {
            auto* label = new QLabel(text(row.label), this);
            label->setObjectName(QString("lbl") + row.name);
            label->setToolTip(text(row.labelTooltip));
            label->setBuddy(fields_[i]);
            labels_[i] = label;
        }
    }

    buttons_ = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
    buttons_->setObjectName("buttons");
    ok_ = buttons_->button(QDialogButtonBox::Ok);
    cancel_ = buttons_->button(QDialogButtonBox::Cancel);
    apply_ = buttons_->button(QDialogButtonBox::Apply);
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, [this] {
        // Like Apply, OK writes only edits not yet applied: a page opened and closed with OK
        // must not put every property again (raising refusals for values nobody touched).
        if (!page_.changed() || apply()) accept();
    });
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    connect(apply_, &QPushButton::clicked, this, [this] { apply(); });
}

void PosPropertyDialog::layOut() {
    std::map<std::string, Frame> frames;
    auto frameNamed = [&](const char* name) -> Frame& {
        Frame& frame = frames[name];
        if (!frame.box) {
            frame.box = new QGroupBox(text(name), this);
            frame.box->setObjectName(text(name));
            frame.grid = new QGridLayout(frame.box);
            frame.grid->setHorizontalSpacing(10);
            frame.grid->setColumnStretch(2, 1);
        }
        return frame;
    };

    for (const PosFieldLayout& row : ui::posPageLayout()) {
        const auto i = static_cast<std::size_t>(row.field);
        Frame& frame = frameNamed(row.frame);
        if (labels_[i]) {
            const int r = frame.nextRow++;
            frame.grid->addWidget(labels_[i], r, 0, Qt::AlignLeft | Qt::AlignVCenter);
            frame.grid->addWidget(fields_[i], r, 1, Qt::AlignLeft | Qt::AlignVCenter);
        } else if (row.kind == FieldKind::CheckBox) {
            frame.grid->addWidget(fields_[i], frame.nextRow++, 0, 1, 2, Qt::AlignLeft);
        } else {
            // Fields without a label of their own sit side by side (the currency list and its
            // code box).
            if (frame.inlineRow < 0) frame.inlineRow = frame.nextRow++;
            frame.grid->addWidget(fields_[i], frame.inlineRow, frame.inlineColumn++,
                                  Qt::AlignLeft | Qt::AlignVCenter);
        }
    }

    // "POS high level protocol" holds the two inner frames.
    QGroupBox* high = new QGroupBox(text(ui::kFramePosHigh), this);
    high->setObjectName(text(ui::kFramePosHigh));
    auto* highLayout = new QVBoxLayout(high);
    highLayout->addWidget(frameNamed(ui::kFrameFields).box);
    highLayout->addWidget(frameNamed(ui::kFramePosDevise).box);

    auto* left = new QVBoxLayout;
    left->addWidget(frameNamed(ui::kFrameLowLevel).box);
    left->addStretch(1);
    auto* right = new QVBoxLayout;
    right->addWidget(frameNamed(ui::kFrameComPort).box);
    right->addWidget(high);
    right->addStretch(1);
    auto* columns = new QHBoxLayout;
    columns->addLayout(left);
    columns->addLayout(right);

    auto* page = new QVBoxLayout(this);
    page->addWidget(header_);
    page->addLayout(columns);
    page->addWidget(buttons_);
    page->setSizeConstraint(QLayout::SetFixedSize);
}

void PosPropertyDialog::redraw(PosField field) {
    QWidget* widget = fieldWidget(field);
    const PosFieldLayout& row = ui::layoutOf(field);
    switch (row.kind) {
        case FieldKind::TextBox: {
            auto* edit = static_cast<QLineEdit*>(widget);
            const QString value = QString::fromStdString(page_.text(field));
            // The maximum length limits typing only: a longer text loaded from the control is
            // shown whole, as the developer's box would show it.
            const int limit =
                row.maxLength > 0 ? std::max<int>(row.maxLength, value.size()) : kNoLimit;
            if (edit->text() != value) {
                edit->setMaxLength(std::max<int>(limit, edit->text().size()));
                edit->setText(value);
            }
            if (edit->maxLength() != limit) edit->setMaxLength(limit);
            break;
        }
        case FieldKind::CheckBox:
            static_cast<QCheckBox*>(widget)->setChecked(page_.checked(field));
            break;
        case FieldKind::FixedList:
            static_cast<QComboBox*>(widget)->setCurrentIndex(page_.selectedIndex(field));
            break;
    }
    widget->setEnabled(page_.enabled(field));
}

bool PosPropertyDialog::guarded(const char* what, const std::function<void()>& request) {
    QString fault;
    try {
        request();
        return true;
    } catch (const std::exception& e) {
        fault = QString::fromUtf8(e.what());
    } catch (...) {
        fault = "unknown fault";
    }
    if (faultHandler_) faultHandler_(QString("%1: %2").arg(what, fault));
    return false;
}

bool PosPropertyDialog::setSelection(std::vector<KorvelComTools*> selection) {
    return guarded("Loading the properties failed",
                   [&] { page_.selectionChanged(std::move(selection)); });
}

bool PosPropertyDialog::apply() {
    return guarded("Applying the properties failed", [&] { page_.applyChanges(); });
}

bool PosPropertyDialog::keyPasses(PosField field, const QKeyEvent& key) {
    if (key.key() == Qt::Key_Backspace) return page_.keyPress(field, U'\b');
    if (key.matches(QKeySequence::Paste)) {
        // A paste types the clipboard's characters: each one goes through the key filter.
        const QString pasted = QGuiApplication::clipboard()->text();
        for (const char32_t c : pasted.toUcs4())
            if (!page_.keyPress(field, c)) return false;
        return true;
    }
    // Shortcuts (copy, select all, undo, word moves) are Ctrl or Meta chords and type nothing.
    // A character typed with Alt held (AltGr arrives as Ctrl+Alt, macOS's Option as Alt) is
    // still a character and goes through the filter below.
    const auto mods = key.modifiers();
    if ((mods & Qt::MetaModifier) || ((mods & Qt::ControlModifier) && !(mods & Qt::AltModifier)))
        return true;
    bool passes = true;
    for (const char32_t c : key.text().toUcs4()) {
        // Tab, Return, Escape and Delete move or edit; they are not typed characters.
        if (c < 0x20 || c == 0x7f) continue;
        if (!page_.keyPress(field, c)) passes = false;
    }
    return passes;
}

bool PosPropertyDialog::eventFilter(QObject* watched, QEvent* event) {
    const PosField field = fieldOf(watched);
    if (static_cast<int>(field) < 0) return QDialog::eventFilter(watched, event);
    switch (event->type()) {
        case QEvent::KeyPress:
            if (qobject_cast<QLineEdit*>(watched) &&
                !keyPasses(field, *static_cast<QKeyEvent*>(event)))
                return true;  // discarded
            break;
        case QEvent::MouseButtonDblClick:
            page_.doubleClick(field);
            break;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
            // The X11 selection paste (middle button) would type past the key filter.
            if (layoutOf(field).digitsOnly &&
                static_cast<QMouseEvent*>(event)->button() == Qt::MiddleButton)
                return true;
            break;
        default:
            break;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace korvel::qt
