#include "log/log.h"

#include <gtest/gtest.h>

TEST(Smoke, Builds) { EXPECT_FALSE(tendril::theLog.IsOpen()); }
