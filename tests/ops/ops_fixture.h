#pragma once

#include "fake_clock.h"
#include "fake_port_bank.h"
#include "fake_view.h"
#include "fake_wait.h"
#include "link/reader_link.h"
#include "ops/operations.h"
#include "recording_store.h"
#include "settings/app_settings.h"
#include "text/text_ids.h"
#include "text/text_table.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace kt::test
{

// One window, one link over a bank of fake ports, and the process-wide settings and flags.
// On destruction it checks that every successful open was closed exactly once before the
// next open, and that nothing is left open.
struct Rig {
    Rig()
    {
        text::setLanguage(text::Language::English);
        wait.watchPort([this]() -> std::optional<std::uint32_t> {
            if (bank.isReadable())
                return clock.nowMs();
            return std::nullopt;
        });
        clock.recordSleepsInto(&view.events);
    }
    ~Rig()
    {
        bool open = false;
        for (const std::string &e : bank.log) {
            if (e.rfind("close ", 0) == 0) {
                EXPECT_TRUE(open) << "close without an open port\n" << view.dump();
                open = false;
            } else if (e.rfind("open ", 0) == 0 && e.find("failed") == std::string::npos) {
                EXPECT_FALSE(open) << "open while a port is open\n" << view.dump();
                open = true;
            }
        }
        EXPECT_FALSE(open) << view.dump();
    }

    int sent(std::string_view command) const
    {
        return static_cast<int>(std::count(bank.commands.begin(), bank.commands.end(), command));
    }

    FakeClock clock;
    FakeView view;
    FakePortBank bank{clock, &view.events};
    FakeWait wait{clock, &view.events};
    link::ReaderLink link{bank, clock, &wait};
    RecordingStore store{view.events};
    settings::AppSettings settings{3, "19200,e,8,1", 5, "English"};
    ops::ReaderState state;
    ops::Context ctx{link, view, settings, state, &store};
};

} // namespace kt::test
