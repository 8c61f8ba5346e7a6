// The command line: what each argument list asks for, and what it refuses.
#include "options.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace
{

using kt::cli::Command;
using kt::cli::Invocation;
using kt::cli::ParseResult;
using Kind = ParseResult::Kind;

ParseResult parse(const std::vector<std::string> &args)
{
    const std::vector<std::string_view> views(args.begin(), args.end());
    return kt::cli::parseArguments(views);
}

std::string joined(const std::vector<std::string> &args)
{
    std::string all;
    for (const std::string &a : args)
        all += a + " ";
    return all;
}

TEST(ParseArguments, ReadsEveryCommandWithItsArguments)
{
    using I = const Invocation &;
    const struct {
        std::vector<std::string> args;
        std::function<void(I)> check;
    } cases[] = {
        {{"ports"}, [](I i) { EXPECT_EQ(i.command, Command::Ports); }},
        {{"scan"}, [](I i) { EXPECT_FALSE(i.allLineSettings); }},
        {{"scan", "--all-line-settings"}, [](I i) { EXPECT_TRUE(i.allLineSettings); }},
        {{"set-id", "07"}, [](I i) { EXPECT_EQ(i.readerId, 7); }},
        {{"set-line-settings", "11"}, [](I i) { EXPECT_EQ(i.newLineSettingsIndex, 11); }},
        {{"set-line-settings", "9600,E,8,1"}, [](I i) { EXPECT_EQ(i.newLineSettingsIndex, 3); }},
        {{"set-mode", "--output", "rs485"},
         [](I i) {
             EXPECT_EQ(i.outputMode, 1);
             EXPECT_FALSE(i.wiegandFormat || i.rs485Format) << "the others stay as reported";
         }},
        {{"set-mode", "--wiegand=42", "--rs485", "24"},
         [](I i) {
             EXPECT_EQ(i.wiegandFormat, 2);
             EXPECT_EQ(i.rs485Format, 0);
         }},
        {{"preset", "factory"}, [](I i) { EXPECT_EQ(i.preset, kt::ops::Preset::FactoryW26); }},
        {{"preset", "rs485-115200"}, [](I i) { EXPECT_EQ(i.preset, kt::ops::Preset::RS485Fast); }},
        {{"read-cards", "--count", "3", "--seconds", "0.5"},
         [](I i) {
             EXPECT_EQ(i.count, 3);
             EXPECT_EQ(i.durationMs, 500u);
         }},
        {{"provision", "--ids", "5-40", "--wiegand", "34", "--new-line-settings", "115200,e,8,1",
          "--report", "site.csv", "--all-line-settings"},
         [](I i) {
             EXPECT_EQ(i.ids->first, 5);
             EXPECT_EQ(i.ids->last, 40);
             EXPECT_EQ(i.wiegandFormat, 1);
             EXPECT_FALSE(i.outputMode || i.rs485Format);
             EXPECT_EQ(i.provisionLineSettingsIndex, 11);
             EXPECT_EQ(i.reportPath, "site.csv");
             EXPECT_TRUE(i.allLineSettings);
         }},
        {{"provision", "--ids=7"}, [](I i) { EXPECT_EQ(i.ids->last, 7); }},
        // Options of every command go before or after it.
        {{"--json", "--port", "12", "scan", "--lang", "zh-TW", "--line-settings", "115200,e,8,1"},
         [](I i) {
             EXPECT_TRUE(i.json);
             EXPECT_EQ(i.port, 12);
             EXPECT_EQ(i.language, kt::text::Language::ChineseBIG5);
             EXPECT_EQ(i.lineSettingsIndex, 11);
         }},
        {{"set-id", "5", "--bell", "-v", "--port=3"},
         [](I i) {
             EXPECT_TRUE(i.bell && i.verbose);
             EXPECT_EQ(i.port, 3);
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(joined(c.args));
        const ParseResult result = parse(c.args);
        ASSERT_EQ(result.kind, Kind::Run) << result.text;
        c.check(result.invocation);
    }
}

TEST(ParseArguments, RefusesWhatDoesNotFitWithAReason)
{
    const struct {
        std::vector<std::string> args;
        const char *reason;
    } cases[] = {
        {{}, "no command"},
        {{"sacn"}, "unknown command \"sacn\""},
        {{"scan", "--fast"}, "unknown option --fast"},
        {{"scan", "extra"}, "unexpected argument \"extra\""},
        {{"set-id", "0"}, "from 1 to 99"},
        {{"set-id", "-1"}, "from 1 to 99"},
        {{"set-id", "7", "8"}, "unexpected argument \"8\""},
        {{"set-line-settings", "12"}, "index 0 to 11"},
        {{"set-mode"}, "at least one of"},
        {{"set-mode", "--wiegand", "37"}, "26|34|42"},
        {{"preset", "wiegand26"}, "factory|wiegand34"},
        {{"read-cards", "--count", "0"}, "--count"},
        {{"read-cards", "--seconds", "1e3"}, "--seconds"},
        {{"read-cards", "--seconds", "86401"}, "--seconds"},
        {{"scan", "--count", "2"}, "--count does not go with scan"},
        {{"set-id", "3", "--all-line-settings"}, "--all-line-settings does not go with set-id"},
        {{"scan", "--json=yes"}, "--json takes no value"},
        {{"provision"}, "needs --ids"},
        {{"provision", "--ids", "9-3"}, "FIRST not above LAST"},
        {{"provision", "--ids", "0-3"}, "within 1-99"},
        {{"provision", "--ids", "90-100"}, "within 1-99"},
        {{"provision", "--ids", ""}, "within 1-99"},
        {{"provision", "--ids", "3-"}, "within 1-99"},
        {{"provision", "--ids", "1-3", "--rs485", "30"}, "24|32|40"},
        {{"provision", "--ids", "1-3", "--new-line-settings", "12"}, "index 0 to 11"},
        {{"set-id", "3", "--report", "r.csv"}, "--report does not go with set-id"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(joined(c.args));
        const ParseResult result = parse(c.args);
        EXPECT_EQ(result.kind, Kind::Usage);
        EXPECT_NE(result.text.find(c.reason), std::string::npos) << result.text;
        EXPECT_NE(result.text.find("--help"), std::string::npos) << "points to the help";
    }
}

TEST(ParseArguments, EveryCommandHasItsHelp)
{
    for (const char *command : {"ports", "scan", "set-id", "set-line-settings", "set-mode",
                                "preset", "read-cards", "provision"}) {
        SCOPED_TRACE(command);
        for (const ParseResult &result : {parse({command, "--help"}), parse({"help", command})}) {
            ASSERT_EQ(result.kind, Kind::Help);
            EXPECT_EQ(result.text.rfind("Usage: kt4500ctl " + std::string(command), 0), 0u);
            EXPECT_NE(result.text.find("3 the port"), std::string::npos) << "the exit status";
        }
    }
    EXPECT_EQ(parse({"set-mode", "-h", "--output", "bogus"}).kind, Kind::Help);
    const ParseResult helpOfHelp = parse({"help", "help"});
    ASSERT_EQ(helpOfHelp.kind, Kind::Help);
    EXPECT_EQ(helpOfHelp.text, parse({"--help"}).text);
}

} // namespace
