#include "station/StatusColours.h"

#include "station/WeighingModel.h"

std::optional<Rgb> StatusColours::promptColour(int overallStatus, int p) {
    switch (overallStatus) {
    case 0: // idle
        return Rgb{255, 255, 255};
    case 1: // within tolerance: pulses green
        return Rgb{255 - 5 * p, 255, 255 - 5 * p};
    case 2: // too much: pulses red
        return Rgb{255, 255 - 5 * p, 255 - 5 * p};
    case 3: // too little: pulses blue
        return Rgb{255 - 5 * p, 255 - 5 * p, 255};
    case 4: // waiting for container and zero: pulses yellow
        return Rgb{255, 255, 255 - 15 * p};
    default:
        return std::nullopt;
    }
}

std::optional<Rgb> StatusColours::boxColour(int lineStatus, int p) {
    switch (lineStatus) {
    case 0: // idle or finished
        return Rgb{255, 255, 255};
    case 1: // active or too little: pulses green
        return Rgb{255 - 20 * p, 255, 255 - 20 * p};
    case 2: // too much: pulses red
        return Rgb{255, 255 - 15 * p, 255 - 15 * p};
    case 3: // within tolerance: steady green
        return Rgb{50, 255, 50};
    case 4: // waiting its turn: pale yellow
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
    m_prompt = promptColour(status[11], p);
    for (int i = 0; i < kBoxes; ++i)
        m_boxes[size_t(i)] = boxColour(status[size_t(i + 1)], p);
}
