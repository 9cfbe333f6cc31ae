// The Qt application the Qt-based fuzz targets need (timers, fonts), made
// once from LLVMFuzzerInitialize on the offscreen platform.
#pragma once

#include <QCoreApplication>
#include <QtGlobal>

template <typename App>
void makeFuzzApp()
{
    if (QCoreApplication::instance())
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "quorvel-fuzz";
    static char* argv[] = {name, nullptr};
    static App* app = new App(argc, argv);
    (void)app;
}
