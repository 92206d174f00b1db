#pragma once
#include "common/Outcome.h"
#include "config/BalanceMarks.h"

#include <QString>

// The settings of the station's own extensions, in dyestation.ini of the working folder
// (INI, UTF-8), so that a plant can also write them by hand. A missing file means every
// extension is off; whatever changes the operator's workflow is off by default.
//
//   [pick]  confirm=true|false  scanner_port=  aliases=
//   [log]   odbc=               (blank: the embedded log data/weighings.db)
//   [mqtt]  host=  port=1883  station=   (blank host: no messages)
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
    QString mqttStation;  // blank: the machine's host name
    BalanceMarks balance; // off unless [balance] marks names a form
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
