#pragma once
#include "common/Outcome.h"

#include <QWidget>
#include <array>

class LightBus;
class LightMap;
class QLabel;
class QLineEdit;
class QPushButton;
class StatusLine;

// The light map window: 120 numbered boxes in six columns of twenty, bound to the light
// map. Enter in a box saves the whole map and moves on; a click on a number lights that
// position; "CLOSE LIGHT" starts the all-lights-off sweep; "EXIT" hides the window.
class Form6 : public QWidget {
    Q_OBJECT
public:
    // `bus` may be null (no light bus): a click then writes nothing and says so.
    Form6(LightMap& map, LightBus* bus, StatusLine& status, QString mapFile,
          QWidget* parent = nullptr);

    Outcome CALL_LIGHT(int light, int command);
    static QByteArray CRC16(const QByteArray& data);

    std::array<QLabel*, 120> Label1{};
    std::array<QLineEdit*, 120> Text1{};
    QPushButton* Command1 = nullptr; // EXIT
    QPushButton* Command2 = nullptr; // CLOSE LIGHT

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void enterPressed(int index);
    void showCode(int position);

    LightMap& m_map;
    LightBus* m_bus;
    StatusLine& m_status;
    QString m_mapFile;
};
