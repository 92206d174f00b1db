#include "config/ExtensionSettings.h"

#include "common/FileOps.h"

#include <QDir>
#include <QFile>
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
const QString kUser = QStringLiteral("mqtt/username");
const QString kPassword = QStringLiteral("mqtt/password");
const QString kPasswordFile = QStringLiteral("mqtt/password_file");
const QString kTls = QStringLiteral("mqtt/tls");
const QString kCaFile = QStringLiteral("mqtt/ca_file");
const QString kKeepalive = QStringLiteral("mqtt/keepalive");
const QString kResponseTimeout = QStringLiteral("balance/response_timeout_ms");

// A text as written: QSettings makes a list of a value with a comma in it.
QString iniText(const QVariant& v) {
    return v.typeId() == QMetaType::QStringList ? v.toStringList().join(QLatin1Char(','))
                                                : v.toString();
}

// The lines of the file as written, for the values QSettings would cut (at a `;`) or split
// (at a comma), and to name a line in a report.
class RawIni {
public:
    explicit RawIni(const QString& file) {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly))
            return;
        QString group;
        int number = 0;
        for (const QByteArray& bytes : f.readAll().split('\n')) {
            ++number;
            const QString line = QString::fromUtf8(bytes).trimmed();
            if (line.startsWith(QLatin1Char('['))) {
                group = line.mid(1, line.indexOf(QLatin1Char(']')) - 1).trimmed();
                if (group.compare(QLatin1String("General"), Qt::CaseInsensitive) == 0)
                    group.clear();
                continue;
            }
            const qsizetype eq = line.indexOf(QLatin1Char('='));
            if (line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')) || eq < 0)
                continue;
            const QString name = line.left(eq).trimmed();
            m_lines.insert(group.isEmpty() ? name : group + QLatin1Char('/') + name,
                           {number, line.mid(eq + 1).trimmed()});
        }
    }
    // The value of `key`: unquoted, up to a `;` after a blank; quoted, as QSettings reads it.
    QString text(const QSettings& ini, const QString& key) const {
        const auto it = m_lines.find(key);
        if (it == m_lines.end())
            return iniText(ini.value(key)).trimmed();
        const QString& v = it->second;
        if (v.startsWith(QLatin1Char('"')))
            return iniText(ini.value(key)).trimmed();
        for (qsizetype i = 0; i < v.size(); ++i)
            if (v.at(i) == QLatin1Char(';') && (i == 0 || v.at(i - 1).isSpace()))
                return v.left(i).trimmed();
        return v;
    }
    // "dyestation.ini line 12 port=x" for a report.
    QString where(const QString& file, const QString& key) const {
        const auto it = m_lines.find(key);
        const QString name = key.mid(key.indexOf(QLatin1Char('/')) + 1);
        return it == m_lines.end() ? QStringLiteral("%1 %2").arg(QFileInfo(file).fileName(), key)
                                   : QStringLiteral("%1 第 %2 行 %3=%4")
                                         .arg(QFileInfo(file).fileName())
                                         .arg(it->first)
                                         .arg(name, it->second);
    }

private:
    QMap<QString, std::pair<int, QString>> m_lines;
};

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
    const RawIni raw(file);
    s.scannerPort = raw.text(ini, kScanner);
    s.aliases = raw.text(ini, kAliases);
    s.logOdbc = raw.text(ini, kOdbc);
    s.mqttHost = raw.text(ini, kHost);
    s.mqttStation = raw.text(ini, kStation);
    s.mqttUser = raw.text(ini, kUser);
    s.mqttPassword = raw.text(ini, kPassword);
    s.mqttPasswordFile = raw.text(ini, kPasswordFile);
    s.mqttCaFile = raw.text(ini, kCaFile);
    const auto problem = [&](const QString& key, const QString& why) {
        s.mqttProblems << QStringLiteral("%1: %2").arg(raw.where(file, key), why);
    };
    const auto number = [&](const QString& key, int low, int high, int& value) {
        const QString t = raw.text(ini, key);
        if (t.isEmpty())
            return false;
        bool ok = false;
        const int n = t.toInt(&ok);
        if (ok && n >= low && n <= high)
            value = n;
        else
            problem(key, QStringLiteral("須為 %1..%2 的整數").arg(low).arg(high));
        return true;
    };
    const QString tls = raw.text(ini, kTls);
    if (tls.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        s.mqttTls = true;
    else if (!tls.isEmpty() && tls.compare(QLatin1String("false"), Qt::CaseInsensitive) != 0)
        problem(kTls, QStringLiteral("須為 true 或 false"));
    if (!number(kPort, 1, 65535, s.mqttPort) && s.mqttTls)
        s.mqttPort = 8883;
    number(kKeepalive, 5, 65535, s.mqttKeepalive);
    if (!s.mqttPasswordFile.isEmpty()) {
        QFile f(QFileInfo(file).absoluteDir().absoluteFilePath(s.mqttPasswordFile));
        if (f.open(QIODevice::ReadOnly))
            s.mqttPassword =
                QString::fromUtf8(f.readLine()).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
        else
            problem(kPasswordFile, f.errorString());
    }
    if (!s.station().isValidUtf16())
        problem(kStation, QStringLiteral("站名無法用於主題"));
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
        const RawIni raw(file);
        for (const QString& k : ini.allKeys())
            keys.insert(k, raw.text(ini, k));
    }
    keys.insert(kConfirm, s.pickConfirm ? QStringLiteral("true") : QStringLiteral("false"));
    keys.insert(kScanner, s.scannerPort);
    keys.insert(kAliases, s.aliases);
    keys.insert(kOdbc, s.logOdbc);
    keys.insert(kHost, s.mqttHost);
    keys.insert(kPort, QString::number(s.mqttPort));
    keys.insert(kStation, s.mqttStation);
    // The log-in and TLS keys: written when set or already there.
    const auto optional = [&](const QString& key, const QString& value, bool set) {
        if (set || keys.contains(key))
            keys.insert(key, value);
    };
    optional(kUser, s.mqttUser, !s.mqttUser.isEmpty());
    optional(kPassword, s.mqttPasswordFile.isEmpty() ? s.mqttPassword : QString(),
             !s.mqttPassword.isEmpty() && s.mqttPasswordFile.isEmpty());
    optional(kPasswordFile, s.mqttPasswordFile, !s.mqttPasswordFile.isEmpty());
    optional(kTls, s.mqttTls ? QStringLiteral("true") : QStringLiteral("false"), s.mqttTls);
    optional(kCaFile, s.mqttCaFile, !s.mqttCaFile.isEmpty());
    optional(kKeepalive, QString::number(s.mqttKeepalive), s.mqttKeepalive != 30);
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
