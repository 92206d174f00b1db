#include "config/Form1.h"

#include "common/BoundTimer.h"
#include "common/TextField.h"
#include "config/Form2Grid.h"
#include "config/Language.h"
#include "config/StationSettings.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>

namespace {

QString arrayName(const char* array, int i) {
    return QStringLiteral("%1(%2)").arg(QLatin1String(array)).arg(i);
}

// Enter in the search box runs the search; the box keeps every other key.
class EnterFilter : public QObject {
public:
    EnterFilter(QLineEdit* box, std::function<void()> onEnter)
        : QObject(box), m_onEnter(std::move(onEnter)) {
        box->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::KeyPress) {
            const int k = static_cast<QKeyEvent*>(e)->key();
            if (k == Qt::Key_Return || k == Qt::Key_Enter) {
                m_onEnter();
                return true;
            }
        }
        return false;
    }

private:
    std::function<void()> m_onEnter;
};

} // namespace

Form1::Form1(StationSettings& settings, QWidget* parent) : QWidget(parent), m_settings(settings) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("設置"));
    resize(1180, 716); // the 28 settings rows end at 707: fits a 1366 x 768 screen

    constexpr int rowH = 25, labelW = 130, boxW = 230, top = 10, left = 10;
    for (int i = 0; i < StationSettings::kTextCount; ++i) {
        Label1[size_t(i)] = new QLabel(QString::fromUtf8(StationSettings::info(i).caption), this);
        Label1[size_t(i)]->setObjectName(arrayName("Label1", i));
        Label1[size_t(i)]->setGeometry(left, top + i * rowH, labelW, rowH - 3);
        auto* box = new QLineEdit(this);
        Text2[size_t(i)] = box;
        box->setObjectName(arrayName("Text2", i));
        box->setGeometry(left + labelW, top + i * rowH, boxW, rowH - 3);
        box->setText(settings.text(i));
        if (Setting(i) == Setting::DbPassword)
            box->setEchoMode(QLineEdit::Password);
        connect(box, &QLineEdit::textEdited, this,
                [this, i](const QString& t) { m_settings.setText(i, t); });
    }
    const Setting ports[] = {Setting::BalancePort1, Setting::BalancePort2, Setting::LightPort};
    for (size_t k = 0; k < PortButtons.size(); ++k) {
        const int i = int(ports[k]);
        auto* b = new QToolButton(this);
        PortButtons[k] = b;
        b->setObjectName(QStringLiteral("PortChoice(%1)").arg(i));
        b->setText(QStringLiteral("▾"));
        b->setToolTip(QStringLiteral("選擇連接埠"));
        b->setGeometry(left + labelW + boxW + 2, top + i * rowH, 16, rowH - 3);
        b->setPopupMode(QToolButton::InstantPopup);
        b->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
        auto* menu = new QMenu(b);
        b->setMenu(menu);
        connect(menu, &QMenu::aboutToShow, this, [this, menu, i] { fillPortMenu(*menu, i); });
    }
    connect(&settings, &StationSettings::textChanged, this, [this](int i) {
        if (Text2[size_t(i)]->text() != m_settings.text(i))
            Text2[size_t(i)]->setText(m_settings.text(i));
    });

    // The option boxes: a 3 x 3 block (rows Check3, Check2, Check1; columns 0..2), then
    // the row of five Check4 boxes, under three frames.
    const int fx = left + labelW + boxW + 20;
    Frame1 = new QGroupBox(QStringLiteral("單號搜尋(刷卡)"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(fx, top, 520, 100);
    Frame2 = new QGroupBox(QStringLiteral("---"), this);
    Frame2->setObjectName(QStringLiteral("Frame2"));
    Frame2->setGeometry(fx, top + 105, 520, 50);
    Frame3 = new QGroupBox(QStringLiteral("原始表單規格執行"), this);
    Frame3->setObjectName(QStringLiteral("Frame3"));
    Frame3->setGeometry(fx, top + 160, 520, 85);

    const std::pair<const char*, std::array<QCheckBox*, 3>*> rows[] = {
        {"Check3", &Check3}, {"Check2", &Check2}, {"Check1", &Check1}};
    QGroupBox* frames[] = {Frame1, Frame2, Frame3};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            const Option o = StationSettings::optionFor(QLatin1String(rows[r].first), c);
            auto* box =
                new QCheckBox(QString::fromUtf8(StationSettings::info(o).caption), frames[r]);
            box->setGeometry(10 + c * 170, 22, 160, 22);
            (*rows[r].second)[size_t(c)] = box;
            bindOption(box, QLatin1String(rows[r].first), c);
        }
    }
    for (int j = 0; j < 5; ++j) {
        const Option o = StationSettings::optionFor(QStringLiteral("Check4"), j);
        auto* box = new QCheckBox(QString::fromUtf8(StationSettings::info(o).caption), Frame3);
        box->setGeometry(10 + j * 100, 52, 95, 22);
        Check4[size_t(j)] = box;
        bindOption(box, QStringLiteral("Check4"), j);
    }

    Text3 = new QLineEdit(Frame1);
    Text3->setObjectName(QStringLiteral("Text3"));
    Text3->setGeometry(10, 55, 300, 28);
    new EnterFilter(Text3, [this] { emit searchEntered(Text3->text()); });

    auto button = [this](const char* name, const QString& caption, int x, int y) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(x, y, 120, 32);
        return b;
    };
    const int by = top + 255;
    Command1 = button("Command1", QStringLiteral("存檔"), fx, by);
    Command2 = button("Command2", QStringLiteral("單號搜尋導入"), fx + 130, by);
    Command3 = button("Command3", QStringLiteral("---"), fx + 260, by);
    Command4 = button("Command4", QStringLiteral("EXIT"), fx + 390, by);
    connect(Command1, &QPushButton::clicked, this, &Form1::saveClicked);
    connect(Command2, &QPushButton::clicked, this, &Form1::mappingClicked);
    connect(Command3, &QPushButton::clicked, this, &Form1::mainWindowClicked);
    connect(Command4, &QPushButton::clicked, this, &QWidget::hide);

    Text1 = new QPlainTextEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(fx, by + 40, 520, 90);
    connect(Text1, &QPlainTextEdit::textChanged, this,
            [this] { emit queryEdited(Text1->toPlainText()); });

    MSFlexGrid1 = new QTableWidget(1, 2, this);
    MSFlexGrid1->setObjectName(QStringLiteral("MSFlexGrid1"));
    MSFlexGrid1->setGeometry(fx, by + 135, 520, 250);
    MSFlexGrid1->horizontalHeader()->hide();
    MSFlexGrid1->verticalHeader()->hide();
    connect(MSFlexGrid1, &QTableWidget::cellClicked, this,
            [this](int row, int column) { emit gridClicked(column, row); });

    StatusLabel = new QLabel(this);
    StatusLabel->setObjectName(QStringLiteral("StatusLine"));
    StatusLabel->setGeometry(fx, by + 390, 520, 44);
    StatusLabel->setWordWrap(true);
}

void Form1::bindOption(QCheckBox* box, const QString& array, int index) {
    const Option o = StationSettings::optionFor(array, index);
    box->setObjectName(QStringLiteral("%1(%2)").arg(array).arg(index));
    auto show = [box, this, o] {
        const int v = m_settings.option(o);
        box->setTristate(v == 2);
        box->setCheckState(v == 2 ? Qt::PartiallyChecked : v == 1 ? Qt::Checked : Qt::Unchecked);
    };
    show();
    connect(box, &QCheckBox::clicked, this, [this, box, o] {
        const Qt::CheckState s = box->checkState();
        if (s != Qt::PartiallyChecked)
            box->setTristate(false);
        m_settings.setOption(o, s == Qt::Checked ? 1 : s == Qt::PartiallyChecked ? 2 : 0);
    });
    connect(&m_settings, &StationSettings::optionChanged, box, [o, show](Option changed) {
        if (changed == o)
            show();
    });
}

void Form1::fillPortMenu(QMenu& menu, int setting) {
    menu.clear();
    const QList<PortChoice> choices = m_portChoices ? m_portChoices() : QList<PortChoice>();
    // The menu is made at each click, in the language shown now.
    auto shown = [this](const QString& t) {
        return m_settings.isExactlyOne(Setting::Language) ? ToSimplified(t) : t;
    };
    if (choices.isEmpty())
        menu.addAction(shown(QStringLiteral("找不到連接埠")))->setEnabled(false);
    for (const PortChoice& c : choices) {
        QAction* a = menu.addAction(shown(c.label));
        a->setToolTip(c.setting);
        a->setEnabled(!c.setting.isEmpty());
        connect(a, &QAction::triggered, this, [this, setting, value = c.setting] {
            Text2[size_t(setting)]->setText(value);
            m_settings.setText(setting, value);
        });
    }
}

void Form1::bindTimer2(TickTimer& model, std::function<void()> onTick) {
    Timer2 = new BoundTimer(model, std::move(onTick), this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
}

QStringList Form1::simplifiedTexts() {
    return controlArray(QStringLiteral("Check1"), 0, 2) +
           controlArray(QStringLiteral("Check2"), 0, 2) +
           controlArray(QStringLiteral("Check3"), 0, 2) +
           controlArray(QStringLiteral("Check4"), 0, 4) +
           controlArray(QStringLiteral("Label1"), 0, 27) +
           QStringList{QStringLiteral("Command1"), QStringLiteral("Command2"),
                       QStringLiteral("Command3"), QStringLiteral("Frame1"),
                       QStringLiteral("Frame2"),   QStringLiteral("Frame3")} +
           // the port choice buttons beside the ports' boxes
           QStringList{QStringLiteral("PortChoice(%1)").arg(int(Setting::BalancePort1)),
                       QStringLiteral("PortChoice(%1)").arg(int(Setting::BalancePort2)),
                       QStringLiteral("PortChoice(%1)").arg(int(Setting::LightPort))};
}

void Form1::setQueryText(const QString& text) {
    if (Text1->toPlainText() != text)
        Text1->setPlainText(text);
}

void Form1::showGrid(const QList<QStringList>& cells) {
    showGridCells(*MSFlexGrid1, cells);
}

void Form1::setFaultText(const QString& text) {
    StatusLabel->setText(text);
}

QString Form1::searchText() const {
    return Text3->text();
}

void Form1::clearSearchIf(const QString& key) {
    if (TextField::trimSpaces(Text3->text()) == key)
        Text3->clear();
}

QWidget* Form1::searchBox() const {
    return Text3;
}
