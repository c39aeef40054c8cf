// Protocol errors caught by traps, also when traps on one display are nested.

#include "tests/hooks/HookTestSupport.h"

#include "hooklib/XConnection.h"
#include "hooklib/XErrorTrap.h"

namespace {

class XErrorTrapTest : public hooktest::XvfbSuite {};

// A window id that names nothing on the server: every request on it fails.
constexpr Window kNoWindow = 0x7FFFFFF;

TEST_F(XErrorTrapTest, AnOuterTrapStillCatchesAfterAnInnerOneEnded) {
    const auto connection = XConnection::Open();
    ASSERT_TRUE(connection);
    Display* display = connection->display();
    XErrorTrap outer(display);
    {
        XErrorTrap inner(display);
        XMapWindow(display, kNoWindow);
        EXPECT_TRUE(inner.Failed());
    }
    EXPECT_FALSE(outer.Failed()) << "the inner trap's error reached the outer one";
    // Without the outer trap in force, Xlib's default handler would end this program.
    XUnmapWindow(display, kNoWindow);
    EXPECT_TRUE(outer.Failed());
}

} // namespace
