#pragma once
#include "common/Outcome.h"

#include <QString>
#include <QStringList>
#include <vector>

class QObject;

// The Traditional-to-Simplified conversion of the station's window texts, on OpenCC's
// Traditional-to-Simplified table. Window texts are Unicode, so the mapping is the
// whole conversion.
class ChineseConverter {
public:
    // The OpenCC configuration of the station (its t2s table).
    static QString defaultConfig();

    explicit ChineseConverter(const QString& config = defaultConfig());
    ~ChineseConverter();
    ChineseConverter(const ChineseConverter&) = delete;
    ChineseConverter& operator=(const ChineseConverter&) = delete;

    // False when OpenCC or its data could not be opened; every text then stays as it is.
    bool ok() const { return m_handle != nullptr; }
    const QString& error() const { return m_error; }

    QString convert(const QString& text) const;

private:
    void* m_handle = nullptr;
    QString m_error;
};

// ToSimplified on the station's converter, opened on first use. Characters without a
// Simplified form pass unchanged; without OpenCC's data the text is returned as it is.
QString ToSimplified(const QString& text);
const ChineseConverter& stationConverter();

// Converts, once per window, the text of each named control of `window` ("Label1(3)",
// "Command2", "Frame1", "Text3"): the caption of a label, button, check box or line box,
// the title of a frame, the text of a multi-line box; and the window's own title. A window
// already converted is left
// alone, so showing it again never converts twice. Returns the names not found.
QStringList convertWindowTexts(QObject* window, const QStringList& names,
                               const ChineseConverter& converter);

// "Label1(0)" .. "Label1(27)".
QStringList controlArray(const QString& name, int first, int last);

// Each window declares the controls whose texts are converted when Language is "1"
// (a static simplifiedTexts() of the window).
struct WindowTexts {
    QObject* window;
    QStringList names;
};

// Converts each window's texts once. Fails, changing nothing, when the converter has no
// data; names missing from a window are reported as a failure after the others converted.
Outcome simplifyWindows(const std::vector<WindowTexts>& windows, const ChineseConverter& converter);
