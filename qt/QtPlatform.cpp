#include "qt/QtPlatform.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>

namespace korvel::qt {
namespace {

QtPlatform* sharedPlatform = nullptr;

void destroySharedPlatform() {
    delete sharedPlatform;
    sharedPlatform = nullptr;
}

}  // namespace

QtPlatform::QtPlatform() : settings_(makeSystemSettingsStore()), system_(makeSystemServices()) {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const double dpiX = screen->logicalDotsPerInchX();
            const double dpiY = screen->logicalDotsPerInchY();
            if (dpiX > 0 && dpiY > 0) system_->setScreenTwipsPerPixel(1440.0 / dpiX, 1440.0 / dpiY);
        }
    }
}

QtPlatform::~QtPlatform() = default;

QtPlatform& QtPlatform::shared() {
    if (!sharedPlatform) {
        sharedPlatform = new QtPlatform();
        // Runs while the application object is being destroyed, before Qt itself goes.
        qAddPostRoutine(destroySharedPlatform);
    }
    return *sharedPlatform;
}

}  // namespace korvel::qt
