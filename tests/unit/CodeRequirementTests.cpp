#include "Shared/CodeIdentity.h"
#include "Shared/ServiceContract.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

using Fields = std::map<std::string, std::string>;
const std::string team = "R8QZK2MX4T", host = "com.quillmarsh.Corvane",
                  plugin = "com.quillmarsh.CorvanePlugin", agent = "CorvanePluginAgent";
const Fields marker = {{"field.1.2.840.113635.100.6.1.9", ""}};
const Fields storeApp = {{"com.apple.application-identifier", "R8QZK2MX4T.com.quillmarsh.Corvane"}};

CodeIdentity signedAs(std::string identifier, std::string by = team, bool anchored = true) {
    return {std::move(identifier), std::move(by), anchored, {}, {}};
}

} // namespace

TEST(RequirementTexts, AreComposedExactly) {
    EXPECT_EQ(contract::agentRequirement(),
              "anchor apple generic and (\n"
              "    (\n"
              "        certificate leaf[subject.OU] = \"R8QZK2MX4T\"\n"
              "        and (\n"
              "            identifier \"com.quillmarsh.Corvane\"\n"
              "            or identifier \"com.quillmarsh.CorvanePlugin\"\n"
              "        )\n"
              "    )\n"
              "    or (\n"
              "        certificate leaf[field.1.2.840.113635.100.6.1.9] exists\n"
              "        and identifier \"com.quillmarsh.Corvane\"\n"
              "        and entitlement[\"com.apple.application-identifier\"] =             "
              "\"R8QZK2MX4T.com.quillmarsh.Corvane\"\n"
              "    )\n"
              ")");
    EXPECT_EQ(contract::clientRequirement(),
              "anchor apple generic and certificate leaf[subject.OU] = \"R8QZK2MX4T\" and "
              "(identifier \"CorvanePluginAgent\")");
}

// The signed probes prove the plugin app, the store build and the other team's program.
TEST(RequirementTexts, AdmitTheTeamsAppsToTheAgentAndOnlyItsAgentToClients) {
    const std::tuple<CodeIdentity, bool, bool> cases[] = {
        {signedAs(host), true, false},
        {signedAs(agent), false, true},
        {signedAs("com.quillmarsh.Other"), false, false},
        {signedAs(plugin, team, false), false, false},
        {{host, "", true, marker, {{storeApp.begin()->first, "Q7WN4PLX2C." + host}}}, false, false},
        {{plugin, "", true, marker, storeApp}, false, false}, // the store branch is the host's
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& [identity, toAgent, toClient] = cases[i];
        EXPECT_EQ(satisfies(identity, contract::agentRequirement()), toAgent) << i;
        EXPECT_EQ(satisfies(identity, contract::clientRequirement()), toClient) << i;
    }
}

TEST(RequirementLanguage, EvaluatesEachTermAndRefusesBrokenTexts) {
    CodeIdentity x = signedAs("x");
    // Malformed names too, so that a lax parser would admit the broken texts below.
    x.certificateFields = {{"field.1.2.3", "v"}, {"field.1", ""}, {"field.1..3", ""}};
    x.entitlements = {{"e", R"(a"b\c)"}, {"f", "v"}};
    const std::pair<const char*, bool> cases[] = {
        {R"(identifier "x" or identifier "y" and identifier "z")", true},
        {R"(identifier "y" and identifier "z" or identifier "x")", true},
        {R"((identifier "x" or identifier "y") and identifier "z")", false},
        {R"(entitlement["e"] = "a\"b\\c")", true},
        {R"(entitlement["e"] = "a\"b\c")", false},
        {R"(certificate leaf[field.1.2.3] = "v")", true},
        {"certificate leaf[subject.OU] exists", true},
    };
    for (auto [text, admitted] : cases)
        EXPECT_EQ(satisfies(x, text), admitted) << text;
    EXPECT_FALSE(satisfies(signedAs("x", ""), "certificate leaf[subject.OU] exists"));
    // A text that does not parse is satisfied by nobody.
    for (const char* text :
         {"", "identifier \"x", "identifier \"x\" and", "(identifier \"x\"", "identifier \"x\")",
          "anchor apple specific", "certificate leaf[subject.OU] \"R8QZK2MX4T\"",
          "certificate root[subject.OU] exists", "certificate leaf[field.1] exists",
          "certificate leaf[field.1..3] exists", "entitlement[f] = \"v\"",
          // The first alternative alone would decide: the error comes after it.
          "identifier \"x\" or (identifier \"y\" and", "identifier \"x\" or ident \"y\""})
        EXPECT_FALSE(satisfies(x, text)) << text;
    // Nesting is bounded, so that a hostile text cannot exhaust the stack.
    const std::string deepest = std::string(64, '(') + "identifier \"x\"" + std::string(64, ')');
    EXPECT_TRUE(satisfies(x, deepest));
    EXPECT_FALSE(satisfies(x, "(" + deepest + ")"));
}
