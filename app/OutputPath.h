#pragma once

#include <ctime>
#include <string>

// The file a new recording goes to unless the user picks another:
// folder + "Screen M-D-YYYY (H-M-S).avi" at the given local time, numbers without
// leading zeros, with a '/' put between a folder and the name where it lacks one.
// An unknown time (nullptr) gives "0-0-0 (-1--1--1)".
std::u16string DefaultOutputPath(const std::u16string& folder, const std::tm* localTime);

// The default path for a recording made now that names no existing file: a second
// recording within the same second gets " (2)", " (3)"... before ".avi".
std::u16string FreshDefaultOutputPath(const std::u16string& folder);
