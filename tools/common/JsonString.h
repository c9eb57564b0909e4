// JSON string literals for the tools' --json output.
#pragma once

#include <string>

namespace tooltext {

// `utf8` as a JSON string literal, quotes included: quotes, backslashes and
// control characters escaped, UTF-8 passed through as it is.
std::string JsonQuoted(const std::string& utf8);

}  // namespace tooltext
