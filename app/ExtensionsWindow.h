#pragma once
#include "config/ExtensionSettings.h"

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The window of the station's own extensions (dyestation.ini): shows the settings, and
// asks for them to be saved. They take effect at the next start.
class ExtensionsWindow : public QWidget {
    Q_OBJECT
public:
    explicit ExtensionsWindow(QWidget* parent = nullptr);
    // The controls whose texts are converted when Language is "1".
    static QStringList simplifiedTexts();

    void setValues(const ExtensionSettings& s);
    ExtensionSettings values() const;
    // Why the boxes cannot be saved as they stand (a port that is no port); empty when they
    // can. Nothing is saved with a value guessed in place of the one typed.
    QString refusal() const;
    void setStatus(const QString& text);

    QCheckBox* PickConfirm = nullptr;
    QLineEdit* ScannerPort = nullptr;
    QLineEdit* Aliases = nullptr;
    QLineEdit* LogOdbc = nullptr;
    QLineEdit* MqttHost = nullptr;
    QLineEdit* MqttPort = nullptr;
    QLineEdit* MqttStation = nullptr;
    QLineEdit* BalanceMarksForm = nullptr; // off, first, header, modbus
    QLineEdit* BalanceStable = nullptr;
    QLineEdit* BalanceUnstable = nullptr;
    QLineEdit* BalanceOverload = nullptr;
    QLineEdit* BalanceStableBit = nullptr;
    QLineEdit* BalanceOverloadBit = nullptr;
    QLineEdit* BalanceResponseTimeout = nullptr;
    QPushButton* Diagnostics = nullptr; // the field buses' figures
    QPushButton* Save = nullptr;
    QLabel* StatusLabel = nullptr;

signals:
    void saveClicked();
    void diagnosticsClicked();

private:
    ExtensionSettings m_loaded;
};
