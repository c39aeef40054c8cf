#pragma once

#include <string>

// Creates the folder at path if needed (readable by its owner only) and tells
// whether it is a real folder of this user that nobody else can write to. A folder
// in a shared temporary directory that someone else made or opened up could feed
// the program pictures or redirect its writes, so it must not be used.
bool MakePrivateFolder(const std::u16string& path);
