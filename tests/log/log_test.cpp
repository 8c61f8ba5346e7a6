// The facade as the libraries use it, whichever body the build links.
#include "log/log.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using kt::log::Category;
using kt::log::Level;

namespace
{
struct Line {
    std::string category;
    Level level;
    std::string message;
};
std::vector<Line> g_lines;

void collect(const Category &category, Level level, std::string_view message)
{
    g_lines.push_back({category.name, level, std::string(message)});
}

class LogTest : public testing::Test
{
protected:
    void SetUp() override
    {
        g_lines.clear();
        m_previous = kt::log::setSink(collect);
    }
    void TearDown() override { kt::log::setSink(m_previous); }

private:
    kt::log::Sink m_previous = nullptr;
};

constexpr Category kFresh{"kt4500.test.fresh"};
constexpr Category kSwitched{"kt4500.test.switched"};
constexpr Category kOther{"kt4500.test.other"};

int g_evaluations = 0;
int countedArgument()
{
    ++g_evaluations;
    return 7;
}
} // namespace

TEST_F(LogTest, InfoAndWarningAreOnAndDebugIsOffUntilTurnedOn)
{
    KT_DEBUG(kFresh, "debug %d", 1);
    KT_INFO(kFresh, "info %d", 2);
    KT_WARNING(kFresh, "warning %s", "three");
    ASSERT_EQ(g_lines.size(), 2u);
    EXPECT_EQ(g_lines[0].message, "info 2");
    EXPECT_EQ(g_lines[0].level, Level::Info);
    EXPECT_EQ(g_lines[1].message, "warning three");
    EXPECT_EQ(g_lines[1].level, Level::Warning);
    EXPECT_EQ(g_lines[1].category, "kt4500.test.fresh");
}

TEST_F(LogTest, DebugSwitchActsOnItsOwnCategoryOnly)
{
    kt::log::setDebugEnabled(kSwitched, true);
    KT_DEBUG(kSwitched, "on");
    KT_DEBUG(kOther, "still off");
    kt::log::setDebugEnabled(kSwitched, false);
    KT_DEBUG(kSwitched, "off again");
    ASSERT_EQ(g_lines.size(), 1u);
    EXPECT_EQ(g_lines[0].message, "on");
    EXPECT_EQ(g_lines[0].category, "kt4500.test.switched");
}

TEST_F(LogTest, ArgumentsOfALineThatIsOffAreNotEvaluated)
{
    g_evaluations = 0;
    KT_DEBUG(kFresh, "%d", countedArgument());
    EXPECT_EQ(g_evaluations, 0);
    KT_WARNING(kFresh, "%d", countedArgument());
    EXPECT_EQ(g_evaluations, 1);
    ASSERT_EQ(g_lines.size(), 1u);
    EXPECT_EQ(g_lines[0].message, "7");
}

TEST_F(LogTest, LongLinesArriveWhole)
{
    // A hex dump of the full receive buffer is about 3 KB: far past any small line buffer.
    for (const std::size_t length : {255u, 256u, 257u, 3071u}) {
        SCOPED_TRACE(length);
        g_lines.clear();
        const std::string text(length, 'x');
        KT_WARNING(kFresh, "<%s>", text.c_str());
        ASSERT_EQ(g_lines.size(), 1u);
        EXPECT_EQ(g_lines[0].message, "<" + text + ">");
    }
}
