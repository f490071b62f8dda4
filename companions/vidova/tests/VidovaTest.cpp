#include "companions/vidova/vidova.h"
#include <gtest/gtest.h>
TEST(Vidova, Builds) {}
