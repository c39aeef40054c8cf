#pragma once

class CDaltropBanner;

// Shows the default advertisement in the banner at once and starts the background
// worker that fetches the current one. The worker hands its result to the banner on
// the UI thread and never touches a banner that is gone.
void PrepareAdvert(CDaltropBanner& banner);
