#include "display/keepawake_dbus.h"

#include "app/runtimeerror.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>

namespace ScreenSaverBus {

namespace {

const QString Service = QStringLiteral("org.freedesktop.ScreenSaver");
const QString Interface = QStringLiteral("org.freedesktop.ScreenSaver");
// Desktops register the service under one or both of these paths.
const QString Paths[]
        = {QStringLiteral("/org/freedesktop/ScreenSaver"), QStringLiteral("/ScreenSaver")};

enum class Outcome { Done, NotOffered, TryNextPath };

Outcome classify(const QDBusMessage &reply)
{
    if (reply.type() == QDBusMessage::ReplyMessage)
        return Outcome::Done;
    const QDBusError error(reply);
    switch (error.type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::NoServer:
    case QDBusError::Disconnected:
        return Outcome::NotOffered;
    case QDBusError::UnknownObject:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownMethod:
        return Outcome::TryNextPath;
    default:
        break;
    }
    if (error.name() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
        return Outcome::NotOffered;
    throw RuntimeError(error.message().isEmpty() ? error.name() : error.message());
}

} // namespace

void simulateUserActivity(const QDBusConnection &bus, int timeoutMs)
{
    if (!bus.isConnected())
        return;
    for (const QString &path : Paths) {
        const QDBusMessage call = QDBusMessage::createMethodCall(
                Service, path, Interface, QStringLiteral("SimulateUserActivity"));
        // Blocking on purpose: a refusal must be known before the step ends.
        // The call does not run the event loop, so no other handler runs meanwhile.
        if (classify(bus.call(call, QDBus::Block, timeoutMs)) != Outcome::TryNextPath)
            return;
    }
    // A screen saver service that offers the call on neither path: a desktop
    // that does not support it, which is not an error of this program.
}

} // namespace ScreenSaverBus
