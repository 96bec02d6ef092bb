#pragma once
// The re-entry window's countdown, in ticks of 100 ms: each tick says whether
// to show the countdown message (every 10 s, with the whole seconds left) or
// to close the window because the time ran out. It owns no timer; the window
// calls tick() from its own 100 ms timer.

#include <chrono>

namespace vlt::ui {

inline constexpr std::chrono::milliseconds kCountdownTick{100};

class Countdown {
  public:
    enum class Event { None, Message, Expired };

    // A countdown shorter than one tick still lasts one tick.
    explicit Countdown(std::chrono::milliseconds total);

    // One tick of 100 ms. After Message, seconds_left() is the number to show.
    Event tick();
    long seconds_left() const { return m_ticks / 10; }
    long ticks_left() const { return m_ticks; }

  private:
    long m_ticks;
};

}  // namespace vlt::ui
