#include "config/StationSettings.h"

#include "common/Numbers.h"
#include "common/TextField.h"

namespace {

const SettingInfo kSettings[StationSettings::kTextCount] = {
    {"DataSourceName", "資料庫名稱ODBC"},
    {"UserId", "ID"},
    {"DbPassword", "Password"},
    {"PollSeconds", "執行時間(秒)"},
    {"TitrationLinkPath", "大滴定連線路徑"},
    {"TitrationRecipePath", "大滴定配方路徑"},
    {"ReceivePath", "接收路徑"},
    {"Aux2", "助劑2"},
    {"Aux3", "助劑3"},
    {"Aux4", "助劑4"},
    {"Aux5", "助劑5"},
    {"Dye1", "染料1"},
    {"Dye2", "染料2"},
    {"Dye3", "染料3"},
    {"Dye4", "染料4"},
    {"Dye5", "染料5"},
    {"Language", "Language 0=T 1=C"},
    {"TableName", "表單名稱"},
    {"BalancePort1", "(天平)COM1"},
    {"BalancePort2", "(天平)COM2"},
    {"SetType", "SET TYPE"},
    {"WeightDecision", "重量決定"},
    {"PrintFlag", "打印=1"},
    {"LightPort", "燈號 COM"},
    {"ToleranceCount", "誤差個數"},
    {"Spare25", ""},
    {"Spare26", ""},
    {"Spare27", ""},
};

const OptionInfo kOptions[StationSettings::kOptionCount] = {
    {"AutoRun", "Check1", 0, "自動執行"},
    {"SpareOption1", "Check2", 0, "---"},
    {"BarcodeScanIn", "Check3", 0, "條碼刷入"},
    {"DyeBarcode", "Check1", 1, "染料條碼"},
    {"SpareOption2", "Check2", 1, "---"},
    {"ManualInput", "Check3", 1, "手動輸入"},
    {"OldPowderBarcode", "Check1", 2, "舊粉體染料條碼"},
    {"SpareOption3", "Check2", 2, "---"},
    {"DirectRun", "Check3", 2, "直接執行"},
    {"PollPowder", "Check4", 0, "粉體"},
    {"PollAux2", "Check4", 1, "助劑2"},
    {"PollAux3", "Check4", 2, "助劑3"},
    {"PollAux4", "Check4", 3, "助劑4"},
    {"PollAux5", "Check4", 4, "助劑5"},
};

} // namespace

const SettingInfo& StationSettings::info(int index) {
    return kSettings[index];
}
const OptionInfo& StationSettings::info(Option option) {
    return kOptions[int(option)];
}

Option StationSettings::optionFor(const QString& array, int index) {
    for (int i = 0; i < kOptionCount; ++i)
        if (array == QLatin1String(kOptions[i].array) && kOptions[i].index == index)
            return Option(i);
    Q_ASSERT_X(false, "optionFor", "no such option box");
    return Option::AutoRun;
}

QString StationSettings::text(int index) const {
    return (index >= 0 && index < kTextCount) ? m_texts[size_t(index)] : QString();
}

QString StationSettings::trimmed(Setting s) const {
    return TextField::trimSpaces(text(s));
}

double StationSettings::number(Setting s) const {
    return leadingNumber(text(s));
}

void StationSettings::setText(int index, const QString& value) {
    if (index < 0 || index >= kTextCount || m_texts[size_t(index)] == value)
        return;
    m_texts[size_t(index)] = value;
    emit textChanged(index);
}

void StationSettings::setOption(Option o, int value) {
    if (m_options[size_t(o)] == value)
        return;
    m_options[size_t(o)] = value;
    emit optionChanged(o);
}
