#include "ui/NulGuard.h"
#include "ui/Ui.h"
#include "data/modData.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // Windows are driven without a screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    kestrel::installFontSubstitutes();
    kestrel::installNulGuard();
    kestrel::registerSchemas();
    return RUN_ALL_TESTS();
}
