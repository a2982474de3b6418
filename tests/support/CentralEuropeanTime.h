#pragma once
// A test fixture whose computer zone is Central European Time: an offset that
// is not UTC and changes twice a year. The zone is put back after each test.
#include <QByteArray>
#include <QtGlobal>
#include <gtest/gtest.h>

#include <ctime>

class CentralEuropeanTime : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("TZ", "Europe/Berlin");
        ::tzset();
    }
    void TearDown() override
    {
        qunsetenv("TZ");
        ::tzset();
    }
};
