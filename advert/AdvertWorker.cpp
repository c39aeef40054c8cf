#include "advert/AdvertWorker.h"

#include "advert/AdvertResponse.h"
#include "advert/BannerHandOver.h"
#include "advert/DaltropBanner.h"
#include "advert/PrivateFolder.h"
#include "settings/Folders.h"

#include <filesystem>
#include <system_error>
#include <thread>

namespace {

// Plain constants, not strings with destructors: a worker may still be running while
// the program's statics are torn down.
constexpr char16_t kUserAgent[] = u"Tesmara AdClient";
constexpr char16_t kRequestObject[] = u"/get.php?t=plain&w=425&h=65&lang=en";
constexpr char16_t kDefaultPicture[] = u"default-advert.jpg";

bool Exists(const std::u16string& path) {
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::path(path), ignored);
}

QString ToQString(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

} // namespace

void PrepareAdvert(CDaltropBanner& banner) {
    PrepareAdvert(banner, {}, GetModuleFolder());
}

void PrepareAdvert(CDaltropBanner& banner, const AdvertServer& server,
                   const std::u16string& programFolder) {
    const std::u16string programPicture = programFolder + kDefaultPicture;
    const std::u16string tempFolder = GetTempFolder();
    const std::u16string cacheFolder = tempFolder + u"/DSR/";
    if (tempFolder.empty() || !MakePrivateFolder(cacheFolder)) {
        banner.SetImage(ToQString(programPicture));
        return;
    }
    std::error_code ignored;
    std::filesystem::copy_file(std::filesystem::path(programPicture),
                               std::filesystem::path(cacheFolder + kDefaultPicture),
                               std::filesystem::copy_options::overwrite_existing, ignored);
    banner.SetImage(ToQString(cacheFolder + kDefaultPicture));
    try {
        std::thread(AdvertThreadProc, banner.HandOver(), server, cacheFolder).detach();
    } catch (const std::system_error&) {
        // Without a thread the banner simply keeps the default advertisement.
    }
}

// Nothing that goes wrong here may end the program: the banner then keeps what it has.
int AdvertThreadProc(std::shared_ptr<BannerHandOver> handOver, AdvertServer server,
                     std::u16string cacheFolder) {
    try {
        if (const auto advert = FetchAdvert(server, cacheFolder))
            handOver->Deliver(*advert);
    } catch (const std::exception&) {
    }
    return 0;
}

std::optional<Advert> FetchAdvert(const AdvertServer& server, const std::u16string& cacheFolder) {
    CHttpClient client(kUserAgent, server.port, server.timeouts);
    std::u16string error;
    const std::u16string text = client.GetText(u"http://" + server.host + kRequestObject, error);
    const auto response = AdvertResponse::Parse(text);
    if (!response)
        return std::nullopt;
    const std::u16string name = PictureFileName(response->pictureAddress);
    const bool linkUsable =
        response->link.empty() || CDaltropBanner::IsWebLink(ToQString(response->link));
    if (!IsCacheableName(name) || !linkUsable || !MakePrivateFolder(cacheFolder))
        return std::nullopt;
    const std::u16string local = cacheFolder + name;
    if (!Exists(local))
        client.DownloadFile(response->pictureAddress, local, error);
    if (!Exists(local))
        return std::nullopt;
    return Advert{local, response->link};
}
