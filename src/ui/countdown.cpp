#include "ui/countdown.h"

#include <algorithm>

namespace vlt::ui {

Countdown::Countdown(std::chrono::milliseconds total)
    : m_ticks(std::max<long>(1, static_cast<long>((total.count() + kCountdownTick.count() - 1) /
                                                  kCountdownTick.count()))) {}

Countdown::Event Countdown::tick() {
    --m_ticks;
    if (m_ticks <= 0) return Event::Expired;
    if (m_ticks % 100 == 0) return Event::Message;
    return Event::None;
}

}  // namespace vlt::ui
