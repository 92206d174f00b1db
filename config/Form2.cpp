#include "config/Form2.h"

#include "config/FieldMapping.h"
#include "config/Form2Grid.h"
#include "config/Language.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>

namespace {
QString arrayName(const char* array, int i) {
    return QStringLiteral("%1(%2)").arg(QLatin1String(array)).arg(i);
}
} // namespace

Form2::Form2(FieldMapping& mapping, QWidget* parent) : QWidget(parent), m_mapping(mapping) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("單號搜尋導入"));
    // Fits a 1366 x 768 screen: the buttons stand in a column right of the entries.
    resize(1110, 720);

    constexpr int rowH = 22, labelW = 110, boxW = 190, left = 10, top = 10;
    for (int i = 0; i < FieldMapping::kTextCount; ++i) {
        Label1[size_t(i)] = new QLabel(QString::fromUtf8(FieldMapping::textCaption(i)), this);
        Label1[size_t(i)]->setObjectName(arrayName("Label1", i));
        Label1[size_t(i)]->setGeometry(left + (i % 3) * 320, top + (i / 3) * rowH, labelW,
                                       rowH - 2);
        auto* box = new QLineEdit(mapping.text(i), this);
        Text2[size_t(i)] = box;
        box->setObjectName(arrayName("Text2", i));
        box->setGeometry(left + (i % 3) * 320 + labelW, top + (i / 3) * rowH, boxW, rowH - 2);
        connect(box, &QLineEdit::textEdited, this,
                [this, i](const QString& t) { m_mapping.setText(i, t); });
    }
    connect(&mapping, &FieldMapping::textChanged, this, [this](int i) {
        if (Text2[size_t(i)]->text() != m_mapping.text(i))
            Text2[size_t(i)]->setText(m_mapping.text(i));
    });

    // Three columns of entries: 0..19, 40..59, 20..39.
    const int gridTop = top + 2 * rowH + 10;
    for (int i = 0; i < FieldMapping::kEntryCount; ++i) {
        const int column = i < 20 ? 0 : i < 40 ? 2 : 1;
        const int row = i % 20;
        const int x = left + column * 320, y = gridTop + row * rowH;
        Label2[size_t(i)] = new QLabel(QString::fromUtf8(FieldMapping::entryCaption(i)), this);
        Label2[size_t(i)]->setObjectName(arrayName("Label2", i));
        Label2[size_t(i)]->setGeometry(x, y, labelW, rowH - 2);
        auto* box = new QComboBox(this);
        Combo1[size_t(i)] = box;
        box->setObjectName(arrayName("Combo1", i));
        box->setEditable(true);
        box->setInsertPolicy(QComboBox::NoInsert);
        box->setGeometry(x + labelW, y, boxW, rowH - 2);
        box->setEditText(mapping.entry(i));
        connect(box, &QComboBox::editTextChanged, this,
                [this, i](const QString& t) { m_mapping.setEntry(i, t); });
    }
    connect(&mapping, &FieldMapping::entryChanged, this, [this](int i) {
        if (Combo1[size_t(i)]->currentText() != m_mapping.entry(i))
            Combo1[size_t(i)]->setEditText(m_mapping.entry(i));
    });

    const int lowTop = gridTop + 20 * rowH + 10;
    Text1 = new QPlainTextEdit(mapping.query(), this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(left, lowTop, 640, 70);
    connect(Text1, &QPlainTextEdit::textChanged, this,
            [this] { m_mapping.setQuery(Text1->toPlainText()); });
    connect(&mapping, &FieldMapping::queryChanged, this, [this] {
        if (Text1->toPlainText() != m_mapping.query())
            Text1->setPlainText(m_mapping.query());
    });

    Text3 = new QPlainTextEdit(QStringLiteral("條件欄位1=單號\n指定到首頁TEXT"), this);
    Text3->setObjectName(QStringLiteral("Text3"));
    Text3->setReadOnly(true);
    Text3->setGeometry(left + 650, lowTop, 300, 70);

    MSFlexGrid1 = new QTableWidget(1, mapping.fieldCount() + 2, this);
    MSFlexGrid1->setObjectName(QStringLiteral("MSFlexGrid1"));
    MSFlexGrid1->setGeometry(left, lowTop + 80, 950, 120);

    auto button = [this](const char* name, const QString& caption, int x, int y) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(x, y, 120, 32);
        return b;
    };
    const int bx = left + 970;
    Command1 = button("Command1", QStringLiteral("執行SQL"), bx, top);
    Command2 = button("Command2", QStringLiteral("存檔"), bx, top + 40);
    Command3 = button("Command3", QStringLiteral("生成代碼"), bx, top + 80);
    Command4 = button("Command4", QStringLiteral("EXIT"), bx, top + 120);
    connect(Command1, &QPushButton::clicked, this, &Form2::runSqlClicked);
    connect(Command2, &QPushButton::clicked, this, &Form2::saveClicked);
    connect(Command3, &QPushButton::clicked, this, &Form2::generateClicked);
    connect(Command4, &QPushButton::clicked, this, &QWidget::hide);
}

QStringList Form2::simplifiedTexts() {
    return controlArray(QStringLiteral("Label1"), 0, 4) +
           controlArray(QStringLiteral("Label2"), 0, 59) +
           QStringList{QStringLiteral("Command1"), QStringLiteral("Command2"),
                       QStringLiteral("Command3"), QStringLiteral("Text3")};
}

void Form2::showGrid(const QList<QStringList>& cells) {
    showGridCells(*MSFlexGrid1, cells);
}
