#include "QuietStart.h"

#include <QApplication>

#include <gtest/gtest.h>

// Real widgets on the offscreen platform: no display needed.
int main(int argc, char** argv) {
    vts::quietStart();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
