#include "config/Language.h"

#include <QObject>
#include <QVariant>
#include <opencc.h>

namespace {
// A dynamic property that marks a window whose texts were converted.
constexpr const char* kConvertedMark = "dsSimplified";
// The text properties of the control kinds that carry converted texts, in order of
// preference: a frame has a title, a multi-line box plain text, the others a text.
constexpr const char* kTextProperties[] = {"title", "plainText", "text"};
} // namespace

QString ChineseConverter::defaultConfig() {
    return QStringLiteral("/usr/share/opencc/t2s.json");
}

ChineseConverter::ChineseConverter(const QString& config) {
    opencc_t h = opencc_open(config.toUtf8().constData());
    if (h == reinterpret_cast<opencc_t>(-1)) {
        const char* why = opencc_error();
        m_error = QStringLiteral("%1: %2").arg(config, QString::fromUtf8(why ? why : "?"));
        return;
    }
    m_handle = h;
}

ChineseConverter::~ChineseConverter() {
    if (m_handle)
        opencc_close(m_handle);
}

QString ChineseConverter::convert(const QString& text) const {
    if (!m_handle || text.isEmpty())
        return text;
    const QByteArray in = text.toUtf8();
    char* out = opencc_convert_utf8(m_handle, in.constData(), size_t(in.size()));
    if (!out)
        return text;
    QString result = QString::fromUtf8(out);
    opencc_convert_utf8_free(out);
    return result;
}

const ChineseConverter& stationConverter() {
    static const ChineseConverter converter;
    return converter;
}

QString ToSimplified(const QString& text) {
    return stationConverter().convert(text);
}

QStringList convertWindowTexts(QObject* window, const QStringList& names,
                               const ChineseConverter& converter) {
    QStringList missing;
    if (!window || window->property(kConvertedMark).toBool())
        return missing;
    for (const QString& name : names) {
        QObject* control =
            window->objectName() == name ? window : window->findChild<QObject*>(name);
        if (!control) {
            missing << name;
            continue;
        }
        for (const char* prop : kTextProperties) {
            const QVariant v = control->property(prop);
            if (v.isValid()) {
                control->setProperty(prop, converter.convert(v.toString()));
                break;
            }
        }
        // An entry box's hint and a button's tool tip say what the control is for.
        for (const char* prop : {"placeholderText", "toolTip"})
            if (const QVariant hint = control->property(prop); hint.isValid())
                control->setProperty(prop, converter.convert(hint.toString()));
    }
    // The window's title, when it has one, speaks the same language as its controls.
    if (const QVariant title = window->property("windowTitle"); title.isValid())
        window->setProperty("windowTitle", converter.convert(title.toString()));
    window->setProperty(kConvertedMark, true);
    return missing;
}

QStringList controlArray(const QString& name, int first, int last) {
    QStringList out;
    for (int i = first; i <= last; ++i)
        out << QStringLiteral("%1(%2)").arg(name).arg(i);
    return out;
}

Outcome simplifyWindows(const std::vector<WindowTexts>& windows,
                        const ChineseConverter& converter) {
    if (!converter.ok())
        return Outcome::failure(
            QStringLiteral("簡體轉換資料無法開啟,文字維持繁體 (%1)").arg(converter.error()));
    QStringList missing;
    for (const WindowTexts& w : windows) {
        if (!w.window)
            continue;
        for (const QString& name : convertWindowTexts(w.window, w.names, converter))
            missing << w.window->objectName() + QLatin1Char('.') + name;
    }
    if (!missing.isEmpty())
        return Outcome::failure(
            QStringLiteral("簡體轉換找不到控制項 %1").arg(missing.join(QLatin1Char(' '))));
    return Outcome::success();
}
