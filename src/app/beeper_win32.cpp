// The tone beeper on Windows: Beep(), which sounds the tone and returns when it has ended.

#include "beeper.h"
#include "log/log.h"

#include <chrono>
#include <windows.h>

namespace kt::app
{

namespace
{
constexpr log::Category lcBeeper{"kt4500.beeper"};

// What Beep() can sound.
constexpr int kLowestHz = 37;
constexpr int kHighestHz = 32767;

using Clock = std::chrono::steady_clock;

class Win32Beeper : public Beeper
{
public:
    void beep(int frequencyHz, int durationMs) override
    {
        if (durationMs <= 0)
            return;
        const Clock::time_point end = Clock::now() + std::chrono::milliseconds(durationMs);
        if (frequencyHz < kLowestHz || frequencyHz > kHighestHz) {
            KT_WARNING(lcBeeper, "a beep of %d Hz cannot be sounded; waiting %d ms instead",
                       frequencyHz, durationMs);
        } else if (!::Beep(static_cast<DWORD>(frequencyHz), static_cast<DWORD>(durationMs))
                   && !m_failureLogged) {
            m_failureLogged = true;
            KT_WARNING(lcBeeper, "Beep failed (error %lu); beeps are silent waits from now on",
                       static_cast<unsigned long>(::GetLastError()));
        }
        // Without a beep device (a remote session, a virtual machine) Beep() returns at once:
        // the rest is waited, so that the window's timing and order stay the same.
        for (auto now = Clock::now(); now < end; now = Clock::now()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - now);
            ::Sleep(static_cast<DWORD>(left.count()));
        }
    }

private:
    bool m_failureLogged = false;
};
} // namespace

std::unique_ptr<Beeper> makeSystemBeeper()
{
    return std::make_unique<Win32Beeper>();
}

} // namespace kt::app
