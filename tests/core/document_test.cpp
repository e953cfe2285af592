#include <gtest/gtest.h>

#include "core/Document.h"

TEST(Marker, Placeholder) { EXPECT_EQ(velloran::MarkerLetter("[s] abc"), 'S'); }
