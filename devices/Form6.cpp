#include "devices/Form6.h"

#include "common/StatusLine.h"
#include "devices/LightBus.h"
#include "devices/LightMap.h"
#include "devices/ModbusFrames.h"

#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>

namespace {
constexpr int kRows = 20;
constexpr int kColumnWidth = 190;
constexpr int kRowHeight = 28;
} // namespace

Form6::Form6(LightMap& map, LightBus* bus, StatusLine& status, QString mapFile, QWidget* parent)
    : QWidget(parent), m_map(map), m_bus(bus), m_status(status), m_mapFile(std::move(mapFile)) {
    setObjectName(QStringLiteral("Form6"));
    setWindowTitle(QStringLiteral("染料燈號"));
    resize(6 * kColumnWidth + 20, kRows * kRowHeight + 80);

    for (int i = 0; i < LightMap::kPositions; ++i) {
        const int x = 10 + (i / kRows) * kColumnWidth;
        const int y = 10 + (i % kRows) * kRowHeight;
        auto* l = new QLabel(QString::number(i + 1), this);
        l->setObjectName(QStringLiteral("Label1(%1)").arg(i));
        l->setGeometry(x, y, 40, kRowHeight - 4);
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        l->setCursor(Qt::PointingHandCursor);
        l->installEventFilter(this);
        Label1[size_t(i)] = l;

        auto* t = new QLineEdit(map.code(i + 1), this);
        t->setObjectName(QStringLiteral("Text1(%1)").arg(i));
        t->setGeometry(x + 45, y, kColumnWidth - 55, kRowHeight - 4);
        connect(t, &QLineEdit::textEdited, this,
                [this, i](const QString& text) { m_map.setCode(i + 1, text); });
        connect(t, &QLineEdit::returnPressed, this, [this, i] { enterPressed(i); });
        Text1[size_t(i)] = t;
    }
    connect(&map, &LightMap::changed, this, &Form6::showCode);

    const int y = 20 + kRows * kRowHeight;
    Command2 = new QPushButton(QStringLiteral("CLOSE LIGHT"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->setGeometry(10, y, 160, 40);
    Command1 = new QPushButton(QStringLiteral("EXIT"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(190, y, 160, 40);
    connect(Command2, &QPushButton::clicked, this, [this] {
        if (m_bus)
            m_bus->startSweep();
        else
            m_status.report(QStringLiteral("沒有燈號連接埠"));
    });
    connect(Command1, &QPushButton::clicked, this, &QWidget::hide);
}

Outcome Form6::CALL_LIGHT(int light, int command) {
    return m_bus ? m_bus->CALL_LIGHT(light, command)
                 : Outcome::failure(QStringLiteral("沒有燈號連接埠"));
}

QByteArray Form6::CRC16(const QByteArray& data) {
    return ModbusFrames::CRC16(data);
}

void Form6::showCode(int position) {
    QLineEdit* t = Text1[size_t(position - 1)];
    if (t->text() != m_map.code(position))
        t->setText(m_map.code(position));
}

void Form6::enterPressed(int index) {
    if (Outcome o = m_map.save(m_mapFile); !o)
        m_status.report(QStringLiteral("燈號檔存檔失敗 %1").arg(o.reason()));
    if (index + 1 < LightMap::kPositions)
        Text1[size_t(index + 1)]->setFocus(Qt::OtherFocusReason);
}

bool Form6::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        for (int i = 0; i < LightMap::kPositions; ++i)
            if (watched == Label1[size_t(i)]) {
                if (Outcome o = CALL_LIGHT(i + 1, LightBus::On); !o)
                    m_status.report(
                        QStringLiteral("燈號 %1 未點亮: %2").arg(i + 1).arg(o.reason()));
                return true;
            }
    }
    return QWidget::eventFilter(watched, event);
}
