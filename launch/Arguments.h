// The loader's view of its own command line, split as the system's ANSI
// characters step (CharNextA). Argument 0 is LoaderPath().
#pragma once

#include <stdint.h>

#include "platform/AnsiString.h"

namespace loader {

// The number of arguments after the program name.
int32_t ArgumentCount();

// Argument `index`: 0 is LoaderPath(); 1 to ArgumentCount() the arguments; a
// higher index gives the empty string. The command line is read anew each time.
platform::AnsiString Argument(int32_t index);

// True when both are equal, the letters a to z compared without case.
bool SwitchEquals(const platform::AnsiString& argument, const char* switchText);

// True when both are equal byte for byte.
bool ExactEquals(const platform::AnsiString& argument, const char* switchText);

}  // namespace loader
