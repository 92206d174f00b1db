#pragma once
#include "common/PortChoice.h"

#include <QList>
#include <QStringList>

// The folder where udev names each USB serial adapter by its maker, model and serial
// number: a name that stays with the adapter whichever socket it is plugged into.
inline constexpr char kSerialByIdDir[] = "/dev/serial/by-id";

// The ports to choose from: every adapter of `byIdDir` by its stable path, then those of
// `devices` (the system's serial ports) that have no such path. A stable path longer
// than a port setting holds (100 bytes of set.txt) is shown, but cannot be chosen.
QList<PortChoice> serialPortChoices(const QString& byIdDir, const QStringList& devices);
// The same, for this machine: /dev/serial/by-id and the serial ports Qt finds.
QList<PortChoice> serialPortChoices();

// "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0" -> "FTDI FT232R USB UART A50285BI".
QString adapterName(const QString& byIdName);

// For a port that exists but that this user may not open: the plain words saying so, with
// the fix. Empty when the port may be opened, or fails for another reason.
QString portPermissionProblem(const QString& device);
