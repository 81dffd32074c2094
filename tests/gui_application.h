#pragma once

// Text is drawn with Qt's fonts, which need an application, as sorvik-report has:
// a test of the report's pictures includes this once.

#include <gtest/gtest.h>

#include <QGuiApplication>

namespace {

class GuiApplication : public testing::Environment {
public:
    void SetUp() override
    {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "sorvik-report", *argv[] = {name, nullptr};
        static QGuiApplication application(argc, argv);
    }
};
testing::Environment *const application = testing::AddGlobalTestEnvironment(new GuiApplication);

} // namespace
