#include "App/ClientError.h"

#include <gtest/gtest.h>

TEST(ClientErrorDescription, EachCaseHasItsOwnSentence) {
    EXPECT_EQ(description(ClientError::unavailable), "The sensor service is unavailable.");
    EXPECT_EQ(description(ClientError::timedOut), "The sensor service did not respond.");
    EXPECT_EQ(description(ClientError::responseTooLarge),
              "The sensor service returned too much data.");
    EXPECT_EQ(description(ClientError::invalidResponse),
              "The sensor service returned invalid data.");
    EXPECT_EQ(description(ClientError::incompatibleVersion),
              "Corvane and its plugin are not compatible. Update both apps.");
}
