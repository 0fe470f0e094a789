#include "Shared/CodeIdentity.h"
#include "Shared/ServiceContract.h"

#include <gtest/gtest.h>

namespace {

const std::string storeMarker = "field.1.2.840.113635.100.6.1.9";

CodeIdentity teamSigned(std::string identifier) {
    return {std::move(identifier), "R8QZK2MX4T", true, {}, {}};
}

CodeIdentity storeHostApp() {
    return {"com.quillmarsh.Corvane",
            "",
            true,
            {{storeMarker, ""}},
            {{"com.apple.application-identifier", "R8QZK2MX4T.com.quillmarsh.Corvane"}}};
}

bool admittedByAgent(const CodeIdentity& identity) {
    return satisfies(identity, contract::agentRequirement());
}

} // namespace

TEST(AgentRequirement, AdmitsTheTeamsHostAndPluginApps) {
    EXPECT_TRUE(admittedByAgent(teamSigned("com.quillmarsh.Corvane")));
    EXPECT_TRUE(admittedByAgent(teamSigned("com.quillmarsh.CorvanePlugin")));
}

TEST(AgentRequirement, AdmitsTheStoreBuildOfTheHostApp) {
    EXPECT_TRUE(admittedByAgent(storeHostApp()));
}

TEST(AgentRequirement, RefusesAnotherAppOfTheTeam) {
    EXPECT_FALSE(admittedByAgent(teamSigned("com.quillmarsh.Other")));
    EXPECT_FALSE(admittedByAgent(teamSigned("CorvanePluginAgent")));
}

TEST(AgentRequirement, RefusesTheRightIdentifierOfAnotherTeam) {
    CodeIdentity identity = teamSigned("com.quillmarsh.CorvanePlugin");
    identity.team = "Q7WN4PLX2C";
    EXPECT_FALSE(admittedByAgent(identity));
    identity.team = "";
    EXPECT_FALSE(admittedByAgent(identity));
}

TEST(AgentRequirement, RefusesWhatThePlatformDoesNotAnchor) {
    CodeIdentity plugin = teamSigned("com.quillmarsh.CorvanePlugin");
    plugin.anchoredByPlatform = false;
    EXPECT_FALSE(admittedByAgent(plugin));
    CodeIdentity store = storeHostApp();
    store.anchoredByPlatform = false;
    EXPECT_FALSE(admittedByAgent(store));
}

TEST(AgentRequirement, RefusesAStoreBuildWithoutTheMarker) {
    CodeIdentity identity = storeHostApp();
    identity.certificateFields.clear();
    EXPECT_FALSE(admittedByAgent(identity));
    identity.certificateFields = {{"field.1.2.840.113635.100.6.1.99", ""}};
    EXPECT_FALSE(admittedByAgent(identity));
}

TEST(AgentRequirement, RefusesAStoreBuildWithAWrongEntitlement) {
    CodeIdentity identity = storeHostApp();
    identity.entitlements["com.apple.application-identifier"] = "Q7WN4PLX2C.com.quillmarsh.Corvane";
    EXPECT_FALSE(admittedByAgent(identity));
    identity.entitlements = {
        {"com.apple.developer.team-identifier", "R8QZK2MX4T.com.quillmarsh.Corvane"}};
    EXPECT_FALSE(admittedByAgent(identity));
    identity.entitlements.clear();
    EXPECT_FALSE(admittedByAgent(identity));
}

TEST(AgentRequirement, RefusesTheStoreBranchForThePluginApp) {
    CodeIdentity identity = storeHostApp();
    identity.identifier = "com.quillmarsh.CorvanePlugin";
    EXPECT_FALSE(admittedByAgent(identity));
}

TEST(AgentRequirement, RefusesAProgramWithoutIdentity) {
    EXPECT_FALSE(admittedByAgent(CodeIdentity{}));
}

TEST(ClientRequirement, AdmitsOnlyTheTeamsAgent) {
    EXPECT_TRUE(satisfies(teamSigned("CorvanePluginAgent"), contract::clientRequirement()));
    EXPECT_FALSE(
        satisfies(teamSigned("com.quillmarsh.CorvanePlugin"), contract::clientRequirement()));
    CodeIdentity otherTeam = teamSigned("CorvanePluginAgent");
    otherTeam.team = "Q7WN4PLX2C";
    EXPECT_FALSE(satisfies(otherTeam, contract::clientRequirement()));
    CodeIdentity unanchored = teamSigned("CorvanePluginAgent");
    unanchored.anchoredByPlatform = false;
    EXPECT_FALSE(satisfies(unanchored, contract::clientRequirement()));
}

TEST(RequirementLanguage, AndBindsTighterThanOr) {
    CodeIdentity identity = teamSigned("a");
    identity.anchoredByPlatform = false;
    // Read as (identifier "a") or (identifier "b" and anchor apple generic).
    EXPECT_TRUE(
        satisfies(identity, R"(identifier "a" or identifier "b" and anchor apple generic)"));
    EXPECT_FALSE(
        satisfies(identity, R"((identifier "a" or identifier "b") and anchor apple generic)"));
    EXPECT_FALSE(
        satisfies(identity, R"(anchor apple generic and identifier "b" or identifier "c")"));
}

TEST(RequirementLanguage, WhitespaceBetweenTokensDoesNotMatter) {
    CodeIdentity identity = teamSigned("x");
    EXPECT_TRUE(satisfies(identity, "identifier\"x\"and(anchor apple generic)"));
    EXPECT_TRUE(satisfies(identity, "\n\t identifier \r\n \"x\"  \n"));
    EXPECT_TRUE(satisfies(identity, "certificate leaf [ subject.OU ] = \"R8QZK2MX4T\""));
    EXPECT_FALSE(satisfies(identity, "identifier \" x\""));
}

TEST(RequirementLanguage, StringsTakeEscapedQuotesAndBackslashes) {
    CodeIdentity identity = teamSigned(R"(a"b\c)");
    EXPECT_TRUE(satisfies(identity, R"(identifier "a\"b\\c")"));
    EXPECT_FALSE(satisfies(identity, R"(identifier "a\"b\c")"));
}

TEST(RequirementLanguage, CertificateFieldsCanBeTestedForValue) {
    CodeIdentity identity = teamSigned("x");
    identity.certificateFields = {{"field.1.2.3", "v"}};
    EXPECT_TRUE(satisfies(identity, R"(certificate leaf[field.1.2.3] = "v")"));
    EXPECT_FALSE(satisfies(identity, R"(certificate leaf[field.1.2.3] = "w")"));
    EXPECT_TRUE(satisfies(identity, "certificate leaf[field.1.2.3] exists"));
    EXPECT_FALSE(satisfies(identity, "certificate leaf[field.1.2.4] exists"));
    EXPECT_TRUE(satisfies(identity, "certificate leaf[subject.OU] exists"));
    identity.team.clear();
    EXPECT_FALSE(satisfies(identity, "certificate leaf[subject.OU] exists"));
}

TEST(RequirementLanguage, TextsThatDoNotParseAreSatisfiedByNobody) {
    CodeIdentity identity = teamSigned("x");
    identity.certificateFields = {{"field.1.2.3", ""}};
    identity.entitlements = {{"e", "v"}};
    for (const char* text : {
             "",
             "   \n",
             "identifier",
             "identifier x",
             "identifier \"x",
             "identifier \"x\\",
             "identifier \"x\" and",
             "identifier \"x\" or",
             "identifier \"x\" and and identifier \"x\"",
             "(identifier \"x\"",
             "identifier \"x\")",
             "()",
             "identifier \"x\" identifier \"x\"",
             "anchor apple",
             "anchor apple specific",
             "Identifier \"x\"",
             "identifier \"x\" AND anchor apple generic",
             "certificate leaf[subject.OU] \"R8QZK2MX4T\"",
             "certificate leaf[subject.CN] = \"R8QZK2MX4T\"",
             "certificate root[subject.OU] = \"R8QZK2MX4T\"",
             "certificate leaf[field.1.2.3 exists",
             "certificate leaf[field.] exists",
             "certificate leaf[field.1] exists",
             "certificate leaf[field.1..3] exists",
             "certificate leaf[field.1.2.3.] exists",
             "certificate leaf[field.a.b] exists",
             "certificate leaf[\"field.1.2.3\"] exists",
             "entitlement[e] = \"v\"",
             "entitlement[\"e\"] \"v\"",
             "entitlement[\"e\"] exists",
             "identifier \"x\" # comment",
             "identifier \"x\" or identifier \"y\" or",
         })
        EXPECT_FALSE(satisfies(identity, text)) << text;
}

TEST(RequirementLanguage, ASyntaxErrorLaterInTheTextIsNotSkipped) {
    // The first alternative alone would decide, but the text is still malformed.
    EXPECT_FALSE(satisfies(teamSigned("x"), "identifier \"x\" or (identifier \"y\" and"));
    EXPECT_FALSE(satisfies(teamSigned("x"), "identifier \"x\" or ident \"y\""));
}

TEST(RequirementLanguage, NestingIsBoundedSoHostileTextsCannotExhaustTheStack) {
    auto nested = [](std::size_t depth) {
        return std::string(depth, '(') + "identifier \"x\"" + std::string(depth, ')');
    };
    EXPECT_TRUE(satisfies(teamSigned("x"), nested(64)));
    EXPECT_FALSE(satisfies(teamSigned("x"), nested(65)));
    EXPECT_FALSE(satisfies(teamSigned("x"), std::string(1'000'000, '(')));
}

TEST(RequirementLanguage, LongFlatTextsAreEvaluatedWithoutDeepRecursion) {
    std::string text = "identifier \"x\"";
    for (int i = 0; i < 100'000; ++i)
        text += " and anchor apple generic";
    EXPECT_TRUE(satisfies(teamSigned("x"), text));
}
