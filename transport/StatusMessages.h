#pragma once

#include <string>

// The one-line English text for a failed command result; empty when there is
// none. Reads *lastStatus for the transport codes 1, 2, 4 and -3 only.
void describeResult(int code, std::string& text);
