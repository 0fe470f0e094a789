#include "Shared/ServiceContract.h"

// Stands in for the contract's own composition of the text until that is part of this
// branch; a duplicate definition at link time means this file must go.
const std::string& contract::clientRequirement() {
    static const std::string text = "anchor apple generic and certificate leaf[subject.OU] = "
                                    "\"R8QZK2MX4T\" and (identifier \"CorvanePluginAgent\")";
    return text;
}
