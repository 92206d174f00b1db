#pragma once
#include <QObject>
#include <QString>
#include <array>

// The station settings: 28 texts and 14 option boxes, as the settings window shows them.
// This model is what the boxes of Form1 show; every reader asks it at the moment it
// needs a value, so an edit in a box counts at once.
enum class Setting {
    DataSourceName = 0,
    UserId,
    DbPassword,
    PollSeconds,
    TitrationLinkPath,
    TitrationRecipePath,
    ReceivePath,
    Aux2,
    Aux3,
    Aux4,
    Aux5,
    Dye1,
    Dye2,
    Dye3,
    Dye4,
    Dye5,
    Language,
    TableName,
    BalancePort1,
    BalancePort2,
    SetType,
    WeightDecision,
    PrintFlag,
    LightPort,
    ToleranceCount,
    Spare25,
    Spare26,
    Spare27
};

// Options in the order of their records in set.txt (record 101 + value).
enum class Option {
    AutoRun = 0,      // Check1(0)
    SpareOption1,     // Check2(0)
    BarcodeScanIn,    // Check3(0)
    DyeBarcode,       // Check1(1)
    SpareOption2,     // Check2(1)
    ManualInput,      // Check3(1)
    OldPowderBarcode, // Check1(2)
    SpareOption3,     // Check2(2)
    DirectRun,        // Check3(2)
    PollPowder,       // Check4(0)
    PollAux2,
    PollAux3,
    PollAux4,
    PollAux5
};

struct SettingInfo {
    const char* name;
    const char* caption; // UTF-8
};

struct OptionInfo {
    const char* name;
    const char* array; // "Check1" .. "Check4"
    int index;         // index within that control array
    const char* caption;
};

class StationSettings : public QObject {
    Q_OBJECT
public:
    static constexpr int kTextCount = 28;
    static constexpr int kOptionCount = 14;

    static const SettingInfo& info(int index);
    static const OptionInfo& info(Option option);
    // The option held by control `array`(`index`), e.g. ("Check4", 3) is PollAux4.
    static Option optionFor(const QString& array, int index);

    explicit StationSettings(QObject* parent = nullptr) : QObject(parent) {}

    QString text(int index) const;
    QString text(Setting s) const { return text(int(s)); }
    // The text with leading and trailing spaces removed.
    QString trimmed(Setting s) const;
    // True only when the text is exactly "1" (a leading blank is not "1").
    bool isExactlyOne(Setting s) const { return text(s) == QStringLiteral("1"); }
    double number(Setting s) const;

    void setText(int index, const QString& value);
    void setText(Setting s, const QString& value) { setText(int(s), value); }

    // 0 clear, 1 ticked, 2 greyed.
    int option(Option o) const { return m_options[size_t(o)]; }
    bool isSet(Option o) const { return option(o) == 1; }
    void setOption(Option o, int value);

signals:
    void textChanged(int index);
    void optionChanged(Option option);

private:
    std::array<QString, kTextCount> m_texts;
    std::array<int, kOptionCount> m_options{};
};
