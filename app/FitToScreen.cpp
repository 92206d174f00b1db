#include "app/FitToScreen.h"

#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QWidget>

void fitToScreen(QWidget* window) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!window || !screen || window->layout())
        return;
    // Room for the window frame and title bar.
    const QSize room = screen->availableGeometry().size() - QSize(16, 40);
    const QSize designed = window->size();
    if (designed.width() <= room.width() && designed.height() <= room.height())
        return;
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("content"));
    content->setFixedSize(designed);
    for (QObject* child : window->children())
        if (auto* w = qobject_cast<QWidget*>(child); w && !w->isWindow()) {
            const bool hidden = w->isHidden();
            w->setParent(content);
            w->setHidden(hidden);
        }
    auto* scroll = new QScrollArea(window);
    scroll->setObjectName(QStringLiteral("scroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(content);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);
    window->resize(designed.boundedTo(room));
}
