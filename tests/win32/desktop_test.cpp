// The beeper and the system menu on the real Win32 calls.

#include "app/beeper.h"
#include "app/system_menu.h"
#include "wine.h"

#include <chrono>
#include <gtest/gtest.h>
#include <windows.h>

namespace
{

using std::chrono::milliseconds;
using std::chrono::steady_clock;

TEST(Win32Beeper, ReturnsOnlyWhenTheToneHasEnded)
{
    // Where Beep() returns at once (no beep device, Wine), the beeper waits out the rest
    // itself: the window's order of lamp, text, beep and re-enable depends on it.
    const auto beeper = kt::app::makeSystemBeeper();
    const struct {
        int frequencyHz;
        int durationMs;
    } cases[] = {{1000, 120}, {300, 60}, {0, 60}, {20, 60}, {40000, 60}, {-5, 60}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.frequencyHz);
        const auto start = steady_clock::now();
        beeper->beep(c.frequencyHz, c.durationMs);
        EXPECT_GE(steady_clock::now() - start, milliseconds(c.durationMs));
    }
}

LRESULT CALLBACK plainWindowProc(HWND window, UINT message, WPARAM w, LPARAM l)
{
    return ::DefWindowProcA(window, message, w, l);
}

class SystemMenuTest : public testing::Test
{
protected:
    void SetUp() override
    {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = plainWindowProc;
        windowClass.hInstance = ::GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "kt4500-menu-test";
        ::RegisterClassA(&windowClass); // fails harmlessly when registered by an earlier test
        window = ::CreateWindowExA(0, "kt4500-menu-test", "test",
                                   WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, 200, 100,
                                   nullptr, nullptr, windowClass.hInstance, nullptr);
        if (window == nullptr)
            GTEST_SKIP() << "no window can be created here (error " << ::GetLastError() << ")";
        menu = ::GetSystemMenu(window, FALSE);
        ASSERT_NE(menu, nullptr);
    }
    void TearDown() override
    {
        if (window != nullptr)
            ::DestroyWindow(window);
    }

    void removeLast()
    {
        kt::app::removeLastSystemMenuItem(
            [this] { return reinterpret_cast<std::uintptr_t>(window); });
    }

    HWND window = nullptr;
    HMENU menu = nullptr;
};

} // namespace

TEST_F(SystemMenuTest, TheLastItemOfTheStandardMenuIsCloseAndGoes)
{
    // Wine adds its own About item (and a separator) after Close; Windows' standard menu
    // ends with Close. Wine's additions are taken off to test on the menu Windows gives.
    if (kt::test::runningUnderWine()) {
        for (int n = ::GetMenuItemCount(menu);
             n > 1 && ::GetMenuItemID(menu, n - 1) != static_cast<UINT>(SC_CLOSE); --n)
            ::RemoveMenu(menu, static_cast<UINT>(n - 1), MF_BYPOSITION);
    }
    const int before = ::GetMenuItemCount(menu);
    ASSERT_GT(before, 1);
    ASSERT_EQ(::GetMenuItemID(menu, before - 1), static_cast<UINT>(SC_CLOSE));
    removeLast();
    EXPECT_EQ(::GetMenuItemCount(menu), before - 1);
    EXPECT_EQ(::GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND), static_cast<UINT>(-1))
        << "the menu has no Close item";
    EXPECT_NE(::GetMenuState(menu, SC_MINIMIZE, MF_BYCOMMAND), static_cast<UINT>(-1));
}

TEST_F(SystemMenuTest, TheItemIsChosenByPositionNotByWhatItIs)
{
    ASSERT_TRUE(::AppendMenuA(menu, MF_STRING, 0x1230, "Added"));
    removeLast();
    EXPECT_EQ(::GetMenuState(menu, 0x1230, MF_BYCOMMAND), static_cast<UINT>(-1));
    EXPECT_NE(::GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND), static_cast<UINT>(-1));
}

TEST(SystemMenu, NoWindowIsNoHarm)
{
    kt::app::removeLastSystemMenuItem([] { return std::uintptr_t{0}; });
}
