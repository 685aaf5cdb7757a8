#include <gtest/gtest.h>
#include "runtime/Classes.h"
TEST(Smoke, Builds) { kivo::TMemoryStream M; EXPECT_EQ(M.Size(), 0); }
