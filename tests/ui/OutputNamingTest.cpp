#include "ui/OutputNaming.h"

#include <gtest/gtest.h>

TEST(OutputNaming, MediaExtensionsTable)
{
    EXPECT_STREQ(MediaExtensions[0], "mp4");
}
