// What the Qt front's tests share: acting on a modal dialog that the code under test opens with
// exec(), and saving screenshots.
#pragma once

#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>

#include <functional>
#include <stdexcept>

#include "korvelcom/KorvelComTools.h"

/// Failure messages show Qt's strings as text.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace korvel::test {

/// Calls `act` with the modal `Dialog` that the next call opens with exec(), once that call's
/// event loop runs.  When another window (or none) is modal the test fails and that window is
/// closed, so the call under test returns.
template <class Dialog>
void whenModal(std::function<void(Dialog*)> act) {
    QTimer::singleShot(0, qApp, [act] {
        if (auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget()))
            return act(dialog);
        ADD_FAILURE() << "no modal dialog of the expected type showed up";
        if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    });
}

/// Saves the shown `window`'s picture as the build's screenshots/`name` (the README shows them)
/// and checks the file reads back whole.
inline void snapshot(QWidget& window, const QString& name) {
    const QString path = QDir(KORVEL_SCREENSHOT_DIR).filePath(name);
    ASSERT_TRUE(QDir().mkpath(KORVEL_SCREENSHOT_DIR) && window.grab().save(path));
    EXPECT_EQ(QImage(path).size(), window.size()) << path.toStdString();
}

}  // namespace korvel::test
