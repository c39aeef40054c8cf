#include "advert/AdvertResponse.h"

#include "settings/Utf16.h"

namespace {

constexpr std::size_t kUsedFields = 6;
constexpr std::size_t kRequiredFields = 5;
constexpr std::size_t kMaxNameBytes = 128;

bool IsPathSeparator(char16_t unit) {
    return unit == u'\\' || unit == u'/';
}

} // namespace

std::optional<AdvertResponse> AdvertResponse::Parse(const std::u16string& text) {
    std::vector<std::u16string> fields = SplitAdvertFields(text, kUsedFields);
    if (fields.size() < kRequiredFields)
        return std::nullopt;
    fields.resize(kUsedFields);
    return AdvertResponse{fields[1], fields[5]};
}

std::vector<std::u16string> SplitAdvertFields(const std::u16string& text, std::size_t maxFields) {
    std::vector<std::u16string> fields;
    std::size_t start = text.find_first_not_of(u';');
    while (start != std::u16string::npos && fields.size() < maxFields) {
        const std::size_t end = text.find(u';', start);
        fields.push_back(text.substr(start, end - start));
        start = text.find_first_not_of(u';', end);
    }
    return fields;
}

std::u16string PictureFileName(const std::u16string& address) {
    std::size_t nameStart = 0;
    for (std::size_t i = 0; i + 1 < address.size(); ++i) {
        const bool separator = IsPathSeparator(address[i]) || address[i] == u':';
        if (separator && !IsPathSeparator(address[i + 1]))
            nameStart = i + 1;
    }
    return address.substr(nameStart);
}

bool IsCacheableName(const std::u16string& name) {
    if (name.empty() || name.front() == u'.' || ToUtf8(name).size() > kMaxNameBytes)
        return false;
    for (char16_t unit : name) {
        if (unit == u'/' || unit < 0x20 || unit == 0x7F)
            return false;
    }
    return true;
}
