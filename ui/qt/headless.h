// Running without anybody at the screen: demos, tests and servers run the
// program on Qt's offscreen platform, where no window can be seen or closed.
#pragma once

#include <QString>

// True on Qt's offscreen platform, chosen through QT_QPA_PLATFORM or by the
// process entry when there is no display at all. Needs the QGuiApplication.
bool IsHeadless();

// The folder that DISKOPT_SNAPSHOT names, where each drive window saves its
// picture once its work is done and then closes; empty when the variable is
// unset or empty.
QString SnapshotDirectory();
