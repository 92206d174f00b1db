#include "config/ExtensionSettings.h"

#include "common/FileOps.h"

#include <QFileInfo>
#include <QMap>
#include <QSettings>
#include <QSysInfo>

namespace {
const QString kConfirm = QStringLiteral("pick/confirm");
const QString kScanner = QStringLiteral("pick/scanner_port");
const QString kAliases = QStringLiteral("pick/aliases");
const QString kOdbc = QStringLiteral("log/odbc");
const QString kHost = QStringLiteral("mqtt/host");
const QString kPort = QStringLiteral("mqtt/port");
const QString kStation = QStringLiteral("mqtt/station");
const QString kMarks = QStringLiteral("balance/marks");
const QString kStable = QStringLiteral("balance/stable");
const QString kUnstable = QStringLiteral("balance/unstable");
const QString kOverload = QStringLiteral("balance/overload");
const QString kStableBit = QStringLiteral("balance/stable_bit");
const QString kOverloadBit = QStringLiteral("balance/overload_bit");
const QString kResponseTimeout = QStringLiteral("balance/response_timeout_ms");

// A text as written: QSettings makes a list of a value with a comma in it.
QString iniText(const QVariant& v) {
    return v.typeId() == QMetaType::QStringList ? v.toStringList().join(QLatin1Char(','))
                                                : v.toString();
}

BalanceMarks loadMarks(const QSettings& ini) {
    return BalanceMarks::fromTexts(iniText(ini.value(kMarks)), iniText(ini.value(kStable)),
                                   iniText(ini.value(kUnstable)), iniText(ini.value(kOverload)),
                                   iniText(ini.value(kStableBit)),
                                   iniText(ini.value(kOverloadBit)));
}

// A value as QSettings reads it back: quoted when it holds what the INI syntax would
// take otherwise (a comma makes a list, a semicolon a comment, outer spaces are dropped).
QByteArray iniValue(const QString& v) {
    static const QString special = QStringLiteral(",;\"\\#=");
    bool quote = v != v.trimmed();
    for (const QChar c : v)
        quote = quote || special.contains(c) || c < QLatin1Char(' ');
    if (!quote)
        return v.toUtf8();
    QString q = v;
    q.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
        .replace(QLatin1Char('"'), QStringLiteral("\\\""));
    q.replace(QLatin1Char('\n'), QStringLiteral("\\n"))
        .replace(QLatin1Char('\r'), QStringLiteral("\\r"));
    return '"' + q.toUtf8() + '"';
}

QByteArray iniValue(const QVariant& v) {
    if (v.typeId() != QMetaType::QStringList)
        return iniValue(v.toString());
    QByteArrayList parts;
    for (const QString& s : v.toStringList())
        parts << iniValue(s);
    return parts.join(", ");
}
} // namespace

int ExtensionSettings::responseTimeout(const QString& text) {
    bool ok = false;
    const int ms = text.trimmed().toInt(&ok);
    return ok && ms >= 10 && ms <= 2000 ? ms : kDefaultResponseTimeoutMs;
}

QString ExtensionSettings::station() const {
    const QString s = mqttStation.trimmed();
    return s.isEmpty() ? QSysInfo::machineHostName() : s;
}

ExtensionSettings ExtensionSettings::load(const QString& file) {
    ExtensionSettings s;
    if (!QFileInfo(file).isFile())
        return s;
    const QSettings ini(file, QSettings::IniFormat);
    s.present = true;
    s.pickConfirm = ini.value(kConfirm).toString().trimmed().compare(QLatin1String("true"),
                                                                     Qt::CaseInsensitive) == 0;
    s.scannerPort = ini.value(kScanner).toString().trimmed();
    s.aliases = ini.value(kAliases).toString().trimmed();
    s.logOdbc = ini.value(kOdbc).toString().trimmed();
    s.mqttHost = ini.value(kHost).toString().trimmed();
    bool ok = false;
    const int port = ini.value(kPort).toString().trimmed().toInt(&ok);
    s.mqttPort = ok && port > 0 && port < 65536 ? port : 1883;
    s.mqttStation = ini.value(kStation).toString().trimmed();
    s.balance = loadMarks(ini);
    s.balanceResponseTimeoutMs = responseTimeout(ini.value(kResponseTimeout).toString());
    return s;
}

Outcome ExtensionSettings::save(const QString& file, const ExtensionSettings& s) {
    // Every key of the file as it is, then ours over them, grouped as QSettings groups them.
    QMap<QString, QVariant> keys;
    if (QFileInfo(file).isFile()) {
        const QSettings ini(file, QSettings::IniFormat);
        if (ini.status() != QSettings::NoError)
            return Outcome::failure(QStringLiteral("%1: 無法讀取").arg(file));
        for (const QString& k : ini.allKeys())
            keys.insert(k, ini.value(k));
    }
    keys.insert(kConfirm, s.pickConfirm ? QStringLiteral("true") : QStringLiteral("false"));
    keys.insert(kScanner, s.scannerPort);
    keys.insert(kAliases, s.aliases);
    keys.insert(kOdbc, s.logOdbc);
    keys.insert(kHost, s.mqttHost);
    keys.insert(kPort, QString::number(s.mqttPort));
    keys.insert(kStation, s.mqttStation);
    // Only the keys of the chosen form; those of another form stay as they are.
    keys.insert(kMarks, BalanceMarks::formName(s.balance.form));
    if (s.balance.form == BalanceMarks::Form::First ||
        s.balance.form == BalanceMarks::Form::Header) {
        keys.insert(kStable, s.balance.stable);
        keys.insert(kUnstable, s.balance.unstable);
        keys.insert(kOverload, s.balance.overload);
    } else if (s.balance.form == BalanceMarks::Form::Modbus) {
        keys.insert(kStableBit, QString::number(s.balance.stableBit));
        keys.insert(kOverloadBit, QString::number(s.balance.overloadBit));
    }
    if (s.balanceResponseTimeoutMs != kDefaultResponseTimeoutMs || keys.contains(kResponseTimeout))
        keys.insert(kResponseTimeout, QString::number(s.balanceResponseTimeoutMs));

    QMap<QString, QByteArray> groups; // "" is [General]
    for (auto it = keys.cbegin(); it != keys.cend(); ++it) {
        const qsizetype slash = it.key().indexOf(QLatin1Char('/'));
        const QString group = slash < 0 ? QString() : it.key().left(slash);
        const QString name = slash < 0 ? it.key() : it.key().mid(slash + 1);
        groups[group] += name.toUtf8() + '=' + iniValue(it.value()) + '\n';
    }
    QByteArray text;
    for (auto it = groups.cbegin(); it != groups.cend(); ++it) {
        if (!text.isEmpty())
            text += '\n';
        text += '[' + (it.key().isEmpty() ? QByteArray("General") : it.key().toUtf8()) + "]\n";
        text += it.value();
    }
    return FileOps::replaceWhole(file, file + QStringLiteral(".new"), text);
}
