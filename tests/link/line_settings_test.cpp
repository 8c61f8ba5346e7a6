#include "link/line_settings.h"
#include "link/posix/termios_setup.h"

#include <gtest/gtest.h>

using namespace kt::link;

TEST(ParseLineSettings, ReadsTheModeSyntax)
{
    const struct {
        const char *text;
        std::optional<LineSettings> expected;
    } cases[] = {
        {"19200,e,8,1", LineSettings{19200, Parity::Even, 8, 1}},
        {"4800,n,8,1", LineSettings{4800, Parity::None, 8, 1}},
        {"115200,E,8,1", LineSettings{115200, Parity::Even, 8, 1}},
        {"230400,s,5,2", LineSettings{230400, Parity::Space, 5, 2}},
        {" 38400 , M , 7 , 2 ", LineSettings{38400, Parity::Mark, 7, 2}},
        {"110,o,6,1", LineSettings{110, Parity::Odd, 6, 1}},
        {"96,n,8,1", LineSettings{9600, Parity::None, 8, 1}},
        {"19,e,8,1", LineSettings{19200, Parity::Even, 8, 1}},
        {"9600", LineSettings{9600, std::nullopt, std::nullopt, std::nullopt}},
        {"57600,o", LineSettings{57600, Parity::Odd, std::nullopt, std::nullopt}},
        {"", std::nullopt},
        {",", std::nullopt},
        {"19200,x,8,1", std::nullopt},
        {"19200,e,9,1", std::nullopt},
        {"19200,e,4,1", std::nullopt},
        {"19200,e,8,3", std::nullopt},
        {"19200,e,8,0", std::nullopt},
        {"19200,e,8,1.5", std::nullopt},
        {"19201,e,8,1", std::nullopt},
        {"-9600,n,8,1", std::nullopt},
        {"+9600,n,8,1", std::nullopt},
        {"4294976896,n,8,1", std::nullopt}, // 9600 + 2^32
        {"19200,e,8,1,x", std::nullopt},
        {"19200,,8,1", std::nullopt},
        {"19200,e,8,", std::nullopt},
        {"19200e81", std::nullopt},
        {"baud=19200 parity=e", std::nullopt},
        {"19200,ee,8,1", std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseLineSettings(c.text), c.expected);
    }
}

TEST(ConfigureTermios, AppliesSettingsOverARawLine)
{
    termios cooked{};
    cooked.c_iflag = ICRNL | IXON | ISTRIP;
    cooked.c_oflag = OPOST | ONLCR;
    cooked.c_lflag = ICANON | ECHO | ISIG;
    cooked.c_cflag = CS7 | PARENB | CMSPAR | PARODD | CSTOPB | CRTSCTS; // 7M2
    cooked.c_cc[VMIN] = 5;
    cooked.c_cc[VTIME] = 7;
    cfsetispeed(&cooked, B9600);
    cfsetospeed(&cooked, B9600);

    const tcflag_t framing = CSIZE | PARENB | CMSPAR | PARODD | CSTOPB;
    const struct {
        const char *text;
        tcflag_t cflag; // the framing bits expected
        speed_t speed;
        const char *readBack; // the text the port's settings read back as
    } cases[] = {
        {"19200,e,8,1", CS8 | PARENB, B19200, "19200,e,8,1"},
        {"115200,n,8,1", CS8, B115200, "115200,n,8,1"},
        {"4800,o,7,2", CS7 | PARENB | PARODD | CSTOPB, B4800, "4800,o,7,2"},
        {"9600,s,8,1", CS8 | PARENB | CMSPAR, B9600, "9600,s,8,1"},
        {"9600,m,8,1", CS8 | PARENB | CMSPAR | PARODD, B9600, "9600,m,8,1"},
        {"57600", CS7 | PARENB | CMSPAR | PARODD | CSTOPB, B57600, "57600,m,7,2"},
        {"38400,n", CS7 | CSTOPB, B38400, "38400,n,7,2"},
        {"not a setting", CS7 | PARENB | CMSPAR | PARODD | CSTOPB, B9600, "9600,m,7,2"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        termios t = cooked;
        configureTermios(t, parseLineSettings(c.text));
        EXPECT_EQ(t.c_cflag & framing, c.cflag);
        EXPECT_EQ(cfgetispeed(&t), c.speed);
        EXPECT_EQ(cfgetospeed(&t), c.speed);
        EXPECT_EQ(describeLineSettings(t), c.readBack);
        // Raw and non-blocking whatever the text said.
        EXPECT_EQ(t.c_cc[VMIN], 1);
        EXPECT_EQ(t.c_cc[VTIME], 0);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
        EXPECT_EQ(t.c_iflag & (ICRNL | IXON | ISTRIP), 0u);
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
        EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
        EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
    }
}
