#pragma once
#include "common/Outcome.h"
#include "config/BalanceMarks.h"

#include <QString>
#include <QStringList>

// The settings of the station's own extensions, in dyestation.ini of the working folder
// (INI, UTF-8), so that a plant can also write them by hand. A missing file means every
// extension is off; whatever changes the operator's workflow is off by default.
//
//   [pick]  confirm=true|false  scanner_port=  aliases=
//   [log]   odbc=               (blank: the embedded log data/weighings.db)
//   [mqtt]  host=  port=1883 (8883 with tls)  station=   (blank host: no messages)
//           username=  password= | password_file=  tls=true|false  ca_file=  keepalive=30
//
// A value is read as it is written: unquoted, a comma is part of it and so is a `;` that
// follows something other than a blank (`DRIVER={x};SERVER=y`); a `;` after a blank starts
// a comment. A quoted value ("...") is read as QSettings reads it. A MQTT value that does not
// parse (a port, a keepalive, tls, an unreadable password file) is a problem: the messages
// are not started with a guessed value, and the problem names the line.
//   [balance] marks=off|first|header|modbus  stable=  unstable=  overload=
//             stable_bit=8  overload_bit=9   (see BalanceMarks)
//             response_timeout_ms=100  (mode "2": how long a balance may take to answer)
//
// Other keys of the file (such as [OrderDatabase] StatementTimeout) are kept as they are.
struct ExtensionSettings {
    bool present = false; // the file exists: the weighing log is on
    bool pickConfirm = false;
    QString scannerPort; // a port setting, as for the balances; blank: keyboard scanners only
    QString aliases;     // file of `container code,dye code` lines
    QString logOdbc;     // data source of a shared log
    QString mqttHost;
    int mqttPort = 1883;
    QString mqttStation;            // blank: the machine's host name
    QString mqttUser, mqttPassword; // blank user: no log-in
    QString mqttPasswordFile;       // the password is its first line (beside the ini file)
    bool mqttTls = false;
    QString mqttCaFile; // blank with tls: the system's certificate authorities
    int mqttKeepalive = 30;
    QStringList mqttProblems; // values that do not parse, each with its line: no messages
    BalanceMarks balance;     // off unless [balance] marks names a form
    static constexpr int kDefaultResponseTimeoutMs = 100;
    int balanceResponseTimeoutMs = kDefaultResponseTimeoutMs; // 10..2000

    // The station's name in the log and in topics.
    QString station() const;

    // A time-out as written: 10..2000 ms, anything else the default.
    static int responseTimeout(const QString& text);
    static ExtensionSettings load(const QString& file);
    // Written whole to a temporary file and renamed over the file.
    static Outcome save(const QString& file, const ExtensionSettings& s);
};
