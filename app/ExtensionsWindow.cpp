#include "app/ExtensionsWindow.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

ExtensionsWindow::ExtensionsWindow(QWidget* parent) : QWidget(parent) {
    setWindowTitle(QStringLiteral("擴充設定 (dyestation.ini)"));
    auto* form = new QFormLayout(this);
    auto edit = [this, form](const char* name, const QString& caption) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QLatin1String(name));
        auto* label = new QLabel(caption, this);
        label->setObjectName(QLatin1String(name) + QStringLiteral("Caption"));
        form->addRow(label, e);
        return e;
    };
    PickConfirm = new QCheckBox(QStringLiteral("掃描容器確認後才接受 (pick/confirm)"), this);
    PickConfirm->setObjectName(QStringLiteral("PickConfirm"));
    form->addRow(PickConfirm);
    ScannerPort = edit("ScannerPort", QStringLiteral("固定掃描器埠 (pick/scanner_port)"));
    Aliases = edit("Aliases", QStringLiteral("容器代碼對照檔 (pick/aliases)"));
    LogOdbc = edit("LogOdbc", QStringLiteral("共用計量紀錄 ODBC (log/odbc)"));
    MqttHost = edit("MqttHost", QStringLiteral("MQTT 主機 (mqtt/host)"));
    MqttPort = edit("MqttPort", QStringLiteral("MQTT 埠 (mqtt/port)"));
    MqttStation = edit("MqttStation", QStringLiteral("站名 (mqtt/station)"));
    BalanceMarksForm = edit("BalanceMarksForm",
                            QStringLiteral("天平穩定標記 off/first/header/modbus (balance/marks)"));
    BalanceStable = edit("BalanceStable", QStringLiteral("穩定標記 (balance/stable)"));
    BalanceUnstable = edit("BalanceUnstable", QStringLiteral("不穩定標記 (balance/unstable)"));
    BalanceOverload = edit("BalanceOverload", QStringLiteral("超載標記 (balance/overload)"));
    BalanceStableBit = edit("BalanceStableBit", QStringLiteral("穩定位元 (balance/stable_bit)"));
    BalanceOverloadBit =
        edit("BalanceOverloadBit", QStringLiteral("超載位元 (balance/overload_bit)"));
    BalanceResponseTimeout = edit("BalanceResponseTimeout",
                                  QStringLiteral("天平回應逾時 ms (balance/response_timeout_ms)"));
    Save = new QPushButton(QStringLiteral("存檔"), this);
    Save->setObjectName(QStringLiteral("Save"));
    form->addRow(Save);
    StatusLabel = new QLabel(QStringLiteral("重新啟動後生效"), this);
    StatusLabel->setObjectName(QStringLiteral("StatusLabel"));
    form->addRow(StatusLabel);
    Diagnostics = new QPushButton(QStringLiteral("通訊診斷"), this);
    Diagnostics->setObjectName(QStringLiteral("Diagnostics"));
    form->addRow(Diagnostics);
    connect(Save, &QPushButton::clicked, this, &ExtensionsWindow::saveClicked);
    connect(Diagnostics, &QPushButton::clicked, this, &ExtensionsWindow::diagnosticsClicked);
}

QStringList ExtensionsWindow::simplifiedTexts() {
    return {QStringLiteral("PickConfirm"),
            QStringLiteral("ScannerPortCaption"),
            QStringLiteral("AliasesCaption"),
            QStringLiteral("LogOdbcCaption"),
            QStringLiteral("MqttHostCaption"),
            QStringLiteral("MqttPortCaption"),
            QStringLiteral("MqttStationCaption"),
            QStringLiteral("BalanceMarksFormCaption"),
            QStringLiteral("BalanceStableCaption"),
            QStringLiteral("BalanceUnstableCaption"),
            QStringLiteral("BalanceOverloadCaption"),
            QStringLiteral("BalanceStableBitCaption"),
            QStringLiteral("BalanceOverloadBitCaption"),
            QStringLiteral("BalanceResponseTimeoutCaption"),
            QStringLiteral("Save"),
            QStringLiteral("Diagnostics"),
            QStringLiteral("StatusLabel")};
}

void ExtensionsWindow::setValues(const ExtensionSettings& s) {
    m_loaded = s;
    PickConfirm->setChecked(s.pickConfirm);
    ScannerPort->setText(s.scannerPort);
    Aliases->setText(s.aliases);
    LogOdbc->setText(s.logOdbc);
    MqttHost->setText(s.mqttHost);
    MqttPort->setText(QString::number(s.mqttPort));
    MqttStation->setText(s.mqttStation);
    BalanceMarksForm->setText(BalanceMarks::formName(s.balance.form));
    BalanceStable->setText(s.balance.stable);
    BalanceUnstable->setText(s.balance.unstable);
    BalanceOverload->setText(s.balance.overload);
    BalanceStableBit->setText(QString::number(s.balance.stableBit));
    BalanceOverloadBit->setText(QString::number(s.balance.overloadBit));
    BalanceResponseTimeout->setText(QString::number(s.balanceResponseTimeoutMs));
}

ExtensionSettings ExtensionsWindow::values() const {
    // What the window has no box for (the broker's log-in and TLS) stays as it was read.
    ExtensionSettings s = m_loaded;
    s.pickConfirm = PickConfirm->isChecked();
    s.scannerPort = ScannerPort->text().trimmed();
    s.aliases = Aliases->text().trimmed();
    s.logOdbc = LogOdbc->text().trimmed();
    s.mqttHost = MqttHost->text().trimmed();
    bool ok = false;
    const int port = MqttPort->text().trimmed().toInt(&ok);
    s.mqttPort = ok && port > 0 && port < 65536 ? port : m_loaded.mqttPort;
    s.mqttStation = MqttStation->text().trimmed();
    s.balance = BalanceMarks::fromTexts(BalanceMarksForm->text(), BalanceStable->text(),
                                        BalanceUnstable->text(), BalanceOverload->text(),
                                        BalanceStableBit->text(), BalanceOverloadBit->text());
    s.balanceResponseTimeoutMs = ExtensionSettings::responseTimeout(BalanceResponseTimeout->text());
    return s;
}

QString ExtensionsWindow::refusal() const {
    const QString text = MqttPort->text().trimmed();
    bool ok = false;
    const int port = text.toInt(&ok);
    if (!text.isEmpty() && !(ok && port > 0 && port < 65536))
        return QStringLiteral("MQTT 埠「%1」不是 1 到 65535 的數字,未存檔").arg(text);
    return {};
}

void ExtensionsWindow::setStatus(const QString& text) {
    StatusLabel->setText(text);
}
