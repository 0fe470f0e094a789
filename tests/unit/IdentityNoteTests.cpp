#include "Shared/IdentityNote.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace std::string_view_literals;

namespace {

constexpr identitynote::Entry storeEntries[] = {
    {"identifier", "com.quillmarsh.Corvane"},
    {"anchor", "apple generic"},
    {"field.1.2.840.113635.100.6.1.9", ""},
    {"entitlement.com.apple.application-identifier", "R8QZK2MX4T.com.quillmarsh.Corvane"},
};
constexpr auto storeNote =
    identitynote::makeNote<identitynote::paddedToFour(identitynote::payloadSize(storeEntries))>(
        storeEntries);

std::string_view payloadOf(const auto& note) {
    return std::string_view(note.payload.data(), note.payloadSize);
}

} // namespace

TEST(IdentityNoteLayout, HeaderOwnerAndPayloadAreLaidOutAsAnElfNote) {
    static_assert(sizeof storeNote % 4 == 0);
    unsigned char bytes[sizeof storeNote];
    std::memcpy(bytes, &storeNote, sizeof storeNote);
    std::uint32_t header[3];
    std::memcpy(header, bytes, sizeof header);
    EXPECT_EQ(header[0], 8u); // "Corvane" and its NUL
    EXPECT_EQ(header[1], identitynote::payloadSize(storeEntries));
    EXPECT_EQ(header[2], 1u);
    EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(bytes + 12), 8), "Corvane\0"sv);
    EXPECT_EQ(sizeof storeNote, 12 + 8 + identitynote::paddedToFour(header[1]));
    EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(bytes + 20), 22),
              "identifier\0com.quillma"sv);
}

TEST(IdentityNotePayload, DecodesWhatWasEncoded) {
    auto identity = identitynote::decodePayload(payloadOf(storeNote));
    ASSERT_TRUE(identity);
    EXPECT_EQ(*identity, (CodeIdentity{"com.quillmarsh.Corvane",
                                       "",
                                       true,
                                       {{"field.1.2.840.113635.100.6.1.9", ""}},
                                       {{"com.apple.application-identifier",
                                         "R8QZK2MX4T.com.quillmarsh.Corvane"}}}));
}

TEST(IdentityNotePayload, TeamAndIdentifierAlone) {
    auto identity = identitynote::decodePayload("team\0T\0identifier\0I\0"sv);
    ASSERT_TRUE(identity);
    EXPECT_EQ(*identity, (CodeIdentity{"I", "T", false, {}, {}}));
}

TEST(IdentityNotePayload, MalformedPayloadsGiveNothing) {
    for (std::string_view payload : {
             ""sv,
             "team\0T\0"sv,                        // no identifier
             "identifier\0\0"sv,                   // an empty one
             "identifier\0I"sv,                    // value not ended
             "identifier\0I\0team"sv,              // key not ended
             "identifier\0I\0team\0"sv,            // key without value
             "identifier\0I\0identifier\0J\0"sv,   // twice
             "identifier\0I\0colour\0blue\0"sv,    // unknown key
             "identifier\0I\0anchor\0apple\0"sv,   // not the anchor we know
             "identifier\0I\0field.\0v\0"sv,       // field without a name
             "identifier\0I\0entitlement.\0v\0"sv, // entitlement without a name
             "identifier\0I\0\0\0"sv,              // empty key
             "identifier\0I\0\0"sv,                // stray NUL
         })
        EXPECT_FALSE(identitynote::decodePayload(payload)) << testing::PrintToString(payload);
}

TEST(IdentityNotePayload, EntitlementsAndFieldsMayRepeatUnderDistinctNames) {
    auto identity = identitynote::decodePayload(
        "identifier\0I\0entitlement.a\0\0entitlement.b\0x\0field.1.2\0y\0field.1.3\0\0"sv);
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->entitlements, (std::map<std::string, std::string>{{"a", ""}, {"b", "x"}}));
    EXPECT_EQ(identity->certificateFields,
              (std::map<std::string, std::string>{{"field.1.2", "y"}, {"field.1.3", ""}}));
}
