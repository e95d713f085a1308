// The worker's downloader, published for the status thread.
#pragma once

#include <atomic>

#include "download/http_downloader.h"

// Null until the worker has made its downloader; null again once the worker is done with it
// (the status thread is stopped from reading it first).
extern std::atomic<HttpDownloader*> ActiveDownloader;
