// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Desktop notifications through the session's notification service
// (org.freedesktop.Notifications on the D-Bus session bus).

#include <QString>

// Asks the service to show a notification and returns at once: nothing waits
// for an answer. Without a session bus or a service nothing happens.
void DesktopNotify(const QString& summary, const QString& body);
