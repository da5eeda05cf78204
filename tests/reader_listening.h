#pragma once
// What a screen reader does when it starts: the platform's accessibility goes active and Qt sends events.

#include <QtGui/private/qguiapplication_p.h>
#include <QtGui/qpa/qplatformaccessibility.h>
#include <QtGui/qpa/qplatformintegration.h>

namespace murako::fakes {

inline void SetReaderListening(bool listening)
{
    QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(listening);
}

}  // namespace murako::fakes
