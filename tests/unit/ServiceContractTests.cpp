#include "Shared/ServiceContract.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace {

const char* const expectedAgentRequirement =
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
    ")";

} // namespace

TEST(RequirementTexts, AgentRequirementIsTheFourteenLinesExactly) {
    const std::string& text = contract::agentRequirement();
    EXPECT_EQ(text, expectedAgentRequirement);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 13);
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.find("=             \"R8QZK2MX4T"), std::string::npos);
    EXPECT_EQ(text.find('\t'), std::string::npos);
}

TEST(RequirementTexts, ClientRequirementNamesTheAgentOfTheTeam) {
    EXPECT_EQ(contract::clientRequirement(),
              "anchor apple generic and certificate leaf[subject.OU] = \"R8QZK2MX4T\" and "
              "(identifier \"CorvanePluginAgent\")");
}

TEST(RequirementTexts, EachIsBuiltOncePerProcessEvenWhenFirstAskedConcurrently) {
    std::vector<const std::string*> agent(8), client(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < agent.size(); ++i)
        threads.emplace_back([&, i] {
            agent[i] = &contract::agentRequirement();
            client[i] = &contract::clientRequirement();
        });
    for (std::thread& thread : threads)
        thread.join();
    for (std::size_t i = 0; i < agent.size(); ++i) {
        EXPECT_EQ(agent[i], &contract::agentRequirement());
        EXPECT_EQ(client[i], &contract::clientRequirement());
    }
}
