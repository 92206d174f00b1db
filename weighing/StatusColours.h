#pragma once
#include <array>
#include <optional>

class WeighingModel;

// A background colour as red, green, blue (0..255).
struct Rgb {
    int r = 255, g = 255, b = 255;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// The status colours, advanced by Timer3 every 200 ms: a blink phase 0..10 kept in
// LineStatus(0), the prompt's colour by the overall status LineStatus(11) and each line
// box's colour by its line status. A status without a colour leaves the control as it is.
class StatusColours {
public:
    static constexpr int kBoxes = 10;

    explicit StatusColours(WeighingModel& weighing) : m_weighing(weighing) {}

    static std::optional<Rgb> promptColour(int overallStatus, int phase);
    static std::optional<Rgb> boxColour(int lineStatus, int phase);

    // One tick: the next blink phase, then the colours for it.
    void tick();

    const std::optional<Rgb>& prompt() const { return m_prompt; }
    // Box of line i + 1 (Text1(i)).
    const std::optional<Rgb>& box(int i) const { return m_boxes[size_t(i)]; }

private:
    WeighingModel& m_weighing;
    std::optional<Rgb> m_prompt;
    std::array<std::optional<Rgb>, kBoxes> m_boxes;
};
