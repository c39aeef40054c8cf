#pragma once

#include "advert/Advert.h"
#include "advert/HttpClient.h"

#include <memory>
#include <optional>
#include <string>

class BannerHandOver;
class CDaltropBanner;

// Where the advertisement comes from. The program always uses the defaults; tests
// point it at a server of their own.
struct AdvertServer {
    std::u16string host = u"ads.tesmara.example";
    long port = 80;
    HttpTimeouts timeouts;
};

// Shows the default advertisement in the banner at once and starts the background
// worker that fetches the current one. The worker hands its result to the banner on
// the UI thread, never touches a banner that is gone, and is never waited for.
// The default picture is "default-advert.jpg" in the program's folder.
void PrepareAdvert(CDaltropBanner& banner);
// The same with the server and the folder holding the default picture chosen by
// the caller; programFolder ends in '/'.
void PrepareAdvert(CDaltropBanner& banner, const AdvertServer& server,
                   const std::u16string& programFolder);

// The worker's thread procedure: one attempt at the current advertisement, delivered
// through handOver when there is one. cacheFolder ends in '/'. Always returns 0.
int AdvertThreadProc(std::shared_ptr<BannerHandOver> handOver, AdvertServer server,
                     std::u16string cacheFolder);

// Asks the server for the current advertisement and makes sure its picture is in
// cacheFolder, fetching it only when no file of that name is there yet. Nothing when
// there is no usable advertisement. Blocks for as long as the fetches take.
std::optional<Advert> FetchAdvert(const AdvertServer& server, const std::u16string& cacheFolder);
