#include "weighing/StatusColours.h"

#include "weighing/WeighingModel.h"

std::optional<Rgb> StatusColours::promptColour(int overallStatus, int p) {
    switch (overallStatus) {
    case OverallStatus::Idle:
        return Rgb{255, 255, 255};
    case OverallStatus::Within: // pulses green
        return Rgb{255 - 5 * p, 255, 255 - 5 * p};
    case OverallStatus::TooMuch: // pulses red
        return Rgb{255, 255 - 5 * p, 255 - 5 * p};
    case OverallStatus::TooLittle: // pulses blue
        return Rgb{255 - 5 * p, 255 - 5 * p, 255};
    case OverallStatus::Container: // waiting for container and zero: pulses yellow
        return Rgb{255, 255, 255 - 15 * p};
    default:
        return std::nullopt;
    }
}

std::optional<Rgb> StatusColours::boxColour(int lineStatus, int p) {
    switch (lineStatus) {
    case LineStatusCode::Idle: // or finished
        return Rgb{255, 255, 255};
    case LineStatusCode::Active: // or too little: pulses green
        return Rgb{255 - 20 * p, 255, 255 - 20 * p};
    case LineStatusCode::TooMuch: // pulses red
        return Rgb{255, 255 - 15 * p, 255 - 15 * p};
    case LineStatusCode::Within: // steady green
        return Rgb{50, 255, 50};
    case LineStatusCode::Waiting: // its turn: pale yellow
        return Rgb{255, 255, 100};
    default:
        return std::nullopt;
    }
}

void StatusColours::tick() {
    auto& status = m_weighing.LineStatus;
    int p = status[0] + 1;
    // The phase is kept within 0..10 also when something else wrote element 0, so that
    // no colour ever leaves 0..255.
    if (p > 10 || p < 0)
        p = 0;
    status[0] = qint16(p);
    m_prompt = promptColour(status[WeighingModel::kOverall], p);
    for (int i = 0; i < kBoxes; ++i)
        m_boxes[size_t(i)] = boxColour(status[size_t(i + 1)], p);
}
