#include "Shared/IdentityNote.h"

#include <gtest/gtest.h>

using namespace std::string_view_literals;

// Well-formed notes are read from the signed probes; here, what a note must not be.
TEST(IdentityNote, MalformedPayloadsGiveNothing) {
    for (std::string_view payload : {
             ""sv,
             "entitlement.a\0x\0"sv,             // no identifier
             "identifier\0I"sv,                  // value not ended
             "identifier\0I\0entitlement.a"sv,   // key not ended
             "identifier\0I\0identifier\0J\0"sv, // twice
             "identifier\0I\0colour\0blue\0"sv,  // unknown key
             "identifier\0I\0team\0T\0"sv,       // only a signature names the team
             "identifier\0I\0field.1.2\0\0"sv,
             "identifier\0I\0entitlement.\0v\0"sv, // entitlement without a name
         })
        EXPECT_FALSE(identitynote::decodePayload(payload)) << testing::PrintToString(payload);
}
