#include "download/active_downloader.h"

std::atomic<HttpDownloader*> ActiveDownloader{nullptr};
