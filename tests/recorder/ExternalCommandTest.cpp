// Tests stop with the name of a program they need when it is not installed.

#include "tests/support/ExternalCommand.h"

#include <gtest/gtest.h>

#include <stdexcept>

TEST(ExternalCommandTest, AMissingProgramIsNamedAndAnInstalledOneRuns) {
    try {
        testsupport::commandOutput("DISPLAY=:0 tesmara-absent-tool --fb 320x200");
        FAIL() << "a missing program went unnoticed";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("\"tesmara-absent-tool\""), std::string::npos)
            << error.what();
    }
    EXPECT_EQ(testsupport::commandOutput("LC_ALL=C echo installed"), "installed\n");
}
