// The Qt body: the lines are Qt messages of a QLoggingCategory with the same name, so the
// usual logging rules and message handlers keep working.
#include "log/log.h"

#include <QLoggingCategory>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

namespace
{
constexpr kt::log::Category kRules{"kt4500.qttest.rules"};
constexpr kt::log::Category kHandled{"kt4500.qttest.handled"};

QStringList g_messages;
void collect(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const char *kind = type == QtWarningMsg ? "W" : type == QtInfoMsg ? "I" : "D";
    g_messages << QString("%1 %2 %3").arg(context.category, kind, message);
}
} // namespace

TEST(LogQt, LoggingRulesTurnDebugOnAndInfoOff)
{
    EXPECT_FALSE(kt::log::enabled(kRules, kt::log::Level::Debug));
    EXPECT_TRUE(kt::log::enabled(kRules, kt::log::Level::Info));
    QLoggingCategory::setFilterRules("kt4500.qttest.rules.debug=true\n"
                                     "kt4500.qttest.rules.info=false");
    EXPECT_TRUE(kt::log::enabled(kRules, kt::log::Level::Debug));
    EXPECT_FALSE(kt::log::enabled(kRules, kt::log::Level::Info));
    EXPECT_TRUE(kt::log::enabled(kRules, kt::log::Level::Warning));
    QLoggingCategory::setFilterRules(QString());
    EXPECT_FALSE(kt::log::enabled(kRules, kt::log::Level::Debug));
}

TEST(LogQt, LinesReachTheMessageHandlerWithTheirCategoryAndType)
{
    g_messages.clear();
    const auto previous = qInstallMessageHandler(collect);
    kt::log::setDebugEnabled(kHandled, true);
    KT_DEBUG(kHandled, "tx %s", "09 41");
    KT_INFO(kHandled, "%d%%", 50);
    KT_WARNING(kHandled, "port %d", 5);
    kt::log::setDebugEnabled(kHandled, false);
    qInstallMessageHandler(previous);
    EXPECT_EQ(g_messages,
              QStringList({"kt4500.qttest.handled D tx 09 41", "kt4500.qttest.handled I 50%",
                           "kt4500.qttest.handled W port 5"}));
}
