#include "application.h"

#include <gtest/gtest.h>

// Widget tests need an application object before any test runs, and a display; the offscreen
// platform stands in for one so the tests (and their listing) run anywhere.
int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    kt::app::Application app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
