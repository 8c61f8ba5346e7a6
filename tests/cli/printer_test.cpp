// Text from the reader on a terminal and in JSON: nothing it sends may steer the terminal or
// break the JSON.
#include "printer.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>
#include <string>

namespace
{

using kt::cli::cleanText;

const std::string kBad = "\xEF\xBF\xBD"; // U+FFFD

TEST(CleanText, KeepsUtf8AndReplacesControlsAndBrokenBytes)
{
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"读卡机没有连线 讀卡機", "读卡机没有连线 讀卡機"},
        {"\xF0\x9F\x98\x80 \xC2\xA0", "\xF0\x9F\x98\x80 \xC2\xA0"}, // four bytes; U+00A0
        {"12\x1B[2J78", "12" + kBad + "[2J78"},                     // ESC: a terminal command
        {"\xC2\x9B"
         "31m",
         kBad + "31m"}, // C1 CSI
        {std::string("a\tb\n\0\x7F", 6), "a" + kBad + "b" + kBad + kBad + kBad},
        {"\xFF"
         "A",
         kBad + "A"},
        {"\xC0\xAF", kBad + kBad},                       // overlong
        {"\xED\xA0\x80", kBad + kBad + kBad},            // a surrogate
        {"\xF4\x90\x80\x80", kBad + kBad + kBad + kBad}, // above U+10FFFF
        {"\xE8\xAF", kBad + kBad},                       // cut short
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(cleanText(c.in), c.out);
    }
}

TEST(JsonObject, GivesValidJsonOnOneLineForAnyText)
{
    const std::string json = kt::cli::JsonObject()
                                 .text("text", std::string("q\"u\\o\x01\n\xFF", 8))
                                 .number("decimal", -2147483648LL)
                                 .null("message")
                                 .str();
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << json;
    EXPECT_EQ(doc.object().value("text").toString().toStdString(), "q\"u\\o" + kBad + kBad + kBad);
    EXPECT_EQ(doc.object().value("decimal").toDouble(), -2147483648.0);
    EXPECT_TRUE(doc.object().value("message").isNull());
    EXPECT_EQ(json.find('\n'), std::string::npos);
}

} // namespace
