// The window tests need one application object for all of them.

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // A test that closes its window must not end the others.
    QApplication::setQuitOnLastWindowClosed(false);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
