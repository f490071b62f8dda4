#include "platform/dshow/BaseClasses.h"

#include <gtest/gtest.h>

TEST(MediaType, Defaults) {
  CMediaType mt;
  EXPECT_FALSE(mt.IsValid());
}
