#include "advert/AdvertWorker.h"

#include "advert/DaltropBanner.h"

void PrepareAdvert(CDaltropBanner&) {}
