#pragma once

#include "../system/Result.h"

#include <map>
#include <string>
#include <string_view>

// The text values of a property list in XML whose root is a dictionary: each key whose value
// is a string, with that string; values of other types are passed over. A failure when the
// bytes are not such a list. Read by hand rather than through a library: the agent reads
// its bundle's information at every start, and loading one costs more than the reading.
Result<std::map<std::string, std::string>> dictionaryTexts(std::string_view document);
