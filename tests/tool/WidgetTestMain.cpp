// main() of the wizard's widget tests: a QApplication (on the offscreen
// platform under ctest), then GoogleTest. Closing a test's window must not
// end the application.
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
