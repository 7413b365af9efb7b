#include "job/tone_request.h"

#include <gtest/gtest.h>

TEST(CheckRequest, DefaultsPass) { EXPECT_FALSE(CheckRequest(ToneRequest{})); }
