#pragma once

class QDBusConnection;

namespace ScreenSaverBus {

// How long one call may block the user-interface thread before it counts as failed.
constexpr int CallTimeoutMs = 3000;

// Tells the session's screen saver (org.freedesktop.ScreenSaver) that the user
// is active, which restarts its idle timer. Nothing lasting is requested.
// Returns quietly when there is no bus or no service on it that offers the
// call; throws RuntimeError with the bus's error message when a service
// refuses or fails to answer.
void simulateUserActivity(const QDBusConnection &bus, int timeoutMs = CallTimeoutMs);

} // namespace ScreenSaverBus
