#include "ui/qt/headless.h"

#include <QGuiApplication>

bool IsHeadless() { return QGuiApplication::platformName() == QLatin1String("offscreen"); }

QString SnapshotDirectory() { return qEnvironmentVariable("DISKOPT_SNAPSHOT"); }
