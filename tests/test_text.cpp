#include "SNPSelTools.h"
#include <gtest/gtest.h>
TEST(Placeholder, Builds) { EXPECT_EQ(toLower("AB"), "ab"); }
