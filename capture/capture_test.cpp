#include "capture/capture.h"

#include <utility>

#include <gtest/gtest.h>

namespace {

// A second and a half is 66150 bytes; a length that does not divide it rounds the count up.
TEST(SoundBufferCountTest, HoldsASecondAndAHalfAndNeverFewerThanThree)
{
    const std::pair<int32_t, int32_t> cases[] = {{256, 259}, {1024, 65}, {22049, 4}, {22050, 3}, {66150, 3}, {200000, 3}};
    for (const auto& [length, count] : cases)
        EXPECT_EQ(SoundBufferCount(length), count) << length;
}

}  // namespace
