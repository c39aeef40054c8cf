#include "app/OutputPath.h"

#include <QString>
#include <filesystem>

std::u16string DefaultOutputPath(const std::u16string& folder, const std::tm* localTime) {
    int month = 0, day = 0, year = 0, hour = -1, minute = -1, second = -1;
    if (localTime) {
        month = localTime->tm_mon + 1;
        day = localTime->tm_mday;
        year = localTime->tm_year + 1900;
        hour = localTime->tm_hour;
        minute = localTime->tm_min;
        second = localTime->tm_sec;
    }
    const QString stamp = QStringLiteral("%1-%2-%3 (%4-%5-%6)")
                              .arg(month)
                              .arg(day)
                              .arg(year)
                              .arg(hour)
                              .arg(minute)
                              .arg(second);
    const bool needsSeparator = !folder.empty() && folder.back() != u'/';
    return folder + (needsSeparator ? u"/Screen " : u"Screen ") + stamp.toStdU16String() + u".avi";
}

std::u16string FreshDefaultOutputPath(const std::u16string& folder) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    const std::u16string path = DefaultOutputPath(folder, localtime_r(&now, &local));
    const std::u16string stem = path.substr(0, path.size() - 4); // without ".avi"
    std::u16string fresh = path;
    std::error_code error;
    for (int copy = 2; std::filesystem::exists(std::filesystem::path(fresh), error); ++copy)
        fresh = stem + u" (" + QString::number(copy).toStdU16String() + u").avi";
    return fresh;
}
