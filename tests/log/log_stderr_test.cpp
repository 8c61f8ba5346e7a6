// The body of the build without Qt: lines on stderr, debug by the KT4500_DEBUG setting.
#include "log/log.h"
#include "log/log_stderr.h"

#include <gtest/gtest.h>
#include <string>

TEST(LogStderr, DebugSettingNamesCategories)
{
    const struct {
        const char *setting;
        const char *category;
        bool wanted;
    } cases[] = {
        {"", "kt4500.link", false},
        {"0", "kt4500.link", false},
        {"1", "kt4500.link", true},
        {"1", "kt4500.settings", true},
        {"kt4500.link", "kt4500.link", true},
        {"kt4500.link", "kt4500.settings", false},
        {"kt4500.settings,kt4500.link", "kt4500.link", true},
        {"kt4500.settings,kt4500.link", "kt4500.ops", false},
        {"kt4500.linkx", "kt4500.link", false},  // a longer name is another category
        {"kt4500.lin", "kt4500.link", false},    // and so is a prefix
        {",,kt4500.link,", "kt4500.link", true}, // stray commas do no harm
        {",", "", false},                        // empty items name nothing
        {"11", "kt4500.link", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.setting) + " / " + c.category);
        EXPECT_EQ(kt::log::debugWanted(c.setting, c.category), c.wanted);
    }
}

TEST(LogStderr, OneLinePerMessageWithCategoryAndWarningMark)
{
    constexpr kt::log::Category category{"kt4500.stderrtest"};
    testing::internal::CaptureStderr();
    KT_INFO(category, "removing %s", "LCK..ttyS0");
    KT_WARNING(category, "cannot open COM%d", 12);
    KT_DEBUG(category, "not shown");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "kt4500.stderrtest: removing LCK..ttyS0\n"
              "kt4500.stderrtest: warning: cannot open COM12\n");
}
