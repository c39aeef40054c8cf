#pragma once

#include <optional>
#include <string>
#include <vector>

// The advertisement server's plain-text answer: fields separated by ';', where a run
// of separators counts as one and separators before the first field are skipped.
// Field 2 is the picture's address, field 6 the click-through link; the others are
// not used.
struct AdvertResponse {
    std::u16string pictureAddress;
    std::u16string link; // empty when the answer has only five fields

    // Nothing for an answer of fewer than five fields, which is what an error page
    // such as "Error: 404" gives.
    static std::optional<AdvertResponse> Parse(const std::u16string& text);
};

// The first maxFields fields of text, by the rule above; blanks are kept.
std::vector<std::u16string> SplitAdvertFields(const std::u16string& text, std::size_t maxFields);

// The file-name part of an address: the text after the last '\', '/' or ':' that is
// followed by at least one character other than '\' or '/'. A query stays in it.
std::u16string PictureFileName(const std::u16string& address);

// Whether a name from the server may be used as a file name in the cache: one plain
// component that cannot leave the folder, hide itself or overflow a name.
bool IsCacheableName(const std::u16string& name);
