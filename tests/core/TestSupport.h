#pragma once
#include <gtest/gtest.h>

#include <cmath>

// The worked values are given to ten significant digits.
inline ::testing::AssertionResult TenDigits(double actual, double expected)
{
    if (std::fabs(actual - expected) <= 5e-10 * std::fabs(expected) + 1e-300) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << actual << " differs from " << expected << " in ten significant digits";
}
