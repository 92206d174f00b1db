#pragma once
#include <QString>

// A serial port the settings window offers for a port setting.
struct PortChoice {
    QString setting; // what the port setting gets; empty: shown, but it cannot be chosen
    QString label;   // what the operator sees: the adapter's name and its device
};
