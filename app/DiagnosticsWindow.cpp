#include "app/DiagnosticsWindow.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

DiagnosticsWindow::DiagnosticsWindow(std::function<QString()> report, std::function<QString()> save,
                                     QWidget* parent)
    : QWidget(parent), m_report(std::move(report)), m_save(std::move(save)) {
    setWindowTitle(QStringLiteral("通訊診斷"));
    auto* layout = new QVBoxLayout(this);
    Figures = new QPlainTextEdit(this);
    Figures->setObjectName(QStringLiteral("Figures"));
    Figures->setReadOnly(true);
    Figures->setLineWrapMode(QPlainTextEdit::NoWrap);
    Figures->setFont(QFont(QStringLiteral("monospace")));
    layout->addWidget(Figures);
    Save = new QPushButton(QStringLiteral("存檔"), this);
    Save->setObjectName(QStringLiteral("Save"));
    layout->addWidget(Save);
    StatusLabel = new QLabel(this);
    StatusLabel->setObjectName(QStringLiteral("StatusLabel"));
    layout->addWidget(StatusLabel);
    resize(900, 600);
    m_timer = new QTimer(this);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &DiagnosticsWindow::refresh);
    connect(Save, &QPushButton::clicked, this, [this] { StatusLabel->setText(m_save()); });
}

void DiagnosticsWindow::refresh() {
    const int scroll = Figures->verticalScrollBar() ? Figures->verticalScrollBar()->value() : 0;
    Figures->setPlainText(m_report());
    if (Figures->verticalScrollBar())
        Figures->verticalScrollBar()->setValue(scroll);
}

void DiagnosticsWindow::showEvent(QShowEvent* e) {
    refresh();
    m_timer->start();
    QWidget::showEvent(e);
}

void DiagnosticsWindow::hideEvent(QHideEvent* e) {
    m_timer->stop();
    QWidget::hideEvent(e);
}
