#pragma once
// The sample vCard and iCalendar files beside these tests.
#include "tests/support/PrintQString.h"

#include <QByteArray>
#include <QFile>

#include <gtest/gtest.h>

inline QByteArray sample(const char* name)
{
    QFile f(QStringLiteral(SAMPLES_DIR "/") + QString::fromUtf8(name));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name;
    return f.readAll();
}
