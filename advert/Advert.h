#pragma once

#include <string>

// An advertisement ready to show: its picture in the cache and its link.
struct Advert {
    std::u16string imagePath;
    std::u16string link;
};
