#pragma once
// libcurl as kestrel-post, the plug-in's posting helper process, loads it
// (POSIX builds only). Neither program links it: a system without libcurl
// still runs the plug-in, with posting off. Get opens it with dlopen,
// resolves the functions a post uses and runs curl_global_init; the library
// is never unloaded. When it cannot be loaded, Get returns null and gives
// the one line that says why, which the plug-in logs.
//
// KESTREL_CURL_LIBRARY, when set, names another file to load in place of
// libcurl.so.4 (a bare file name, searched like it; tests use a name that
// does not exist to run the plug-in as on a system without libcurl).
//
// Threads: Get may be called from any thread; the first call loads under a
// once flag, and every call after it only reads what that call left.

#include <curl/curl.h>

#include <string>

class CurlLibrary {
public:
    // The loaded and set-up library; null when it cannot be loaded, and then
    // |why|, when given, receives the reason.
    static const CurlLibrary* Get(std::string* why = nullptr);

    // libcurl's functions that a post calls, all resolved.
    decltype(&curl_easy_init) easyInit = nullptr;
    decltype(&curl_easy_setopt) easySetopt = nullptr;
    decltype(&curl_easy_getinfo) easyGetinfo = nullptr;
    decltype(&curl_easy_cleanup) easyCleanup = nullptr;
    decltype(&curl_multi_init) multiInit = nullptr;
    decltype(&curl_multi_add_handle) multiAddHandle = nullptr;
    decltype(&curl_multi_perform) multiPerform = nullptr;
    decltype(&curl_multi_poll) multiPoll = nullptr;
    decltype(&curl_multi_remove_handle) multiRemoveHandle = nullptr;
    decltype(&curl_multi_cleanup) multiCleanup = nullptr;
    decltype(&curl_url) url = nullptr;
    decltype(&curl_url_set) urlSet = nullptr;
    decltype(&curl_url_cleanup) urlCleanup = nullptr;
    decltype(&curl_slist_append) slistAppend = nullptr;
    decltype(&curl_slist_free_all) slistFreeAll = nullptr;

private:
    CurlLibrary() = default;
    // The file dlopen looks for: libcurl.so.4 unless KESTREL_CURL_LIBRARY names another.
    static std::string FileName();
    static const CurlLibrary* Load(std::string& why);
    bool Resolve(void* handle, std::string& missing);
};
