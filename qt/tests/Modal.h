// Acting on a modal dialog that the code under test opens with exec(): a timer started before
// the call finds the dialog once it is the active modal window and hands it to the test.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace korvel::test {

/// Calls `act` with the first active modal window of type `Dialog`.  When none shows up
/// within 5 s the test fails and any modal window is closed, so the call under test returns.
template <class Dialog>
void whenModal(std::function<void(Dialog*)> act) {
    auto* timer = new QTimer(qApp);
    auto* clock = new QElapsedTimer;
    clock->start();
    QObject::connect(timer, &QTimer::timeout, timer, [timer, clock, act] {
        if (auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            delete clock;
            act(dialog);
        } else if (clock->elapsed() > 5000) {
            timer->stop();
            timer->deleteLater();
            delete clock;
            ADD_FAILURE() << "no modal dialog of the expected type showed up";
            if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
        }
    });
    timer->start(10);
}

}  // namespace korvel::test
