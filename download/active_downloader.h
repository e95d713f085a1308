// The worker's downloader, published for the status thread.
#pragma once

#include <atomic>

#include "download/http_downloader.h"

// Null until the worker has made its downloader; set once, never cleared.
extern std::atomic<HttpDownloader*> ActiveDownloader;
