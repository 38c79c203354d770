#pragma once
// libcurl, loaded when the first post needs it (POSIX builds only). The
// program does not link it: libcurl.so.4 and its thirty-odd libraries (LDAP,
// Kerberos, SSH, RTMP, ...) and the TLS library's set-up would otherwise all
// come before the plug-in registers. The first Get opens it with dlopen on
// the calling thread (a telemetry worker, the crash report uploader),
// resolves the functions HttpPost uses and runs curl_global_init; the
// library is never unloaded. Without it the plug-in runs as before with
// posting off: Get returns null and one log line names the library.
//
// OpenSSL (libcurl's TLS library on the usual distributions) is set up
// without its exit-time clean-up. Set up this late, that clean-up would be
// registered after the process's static object and so run before the
// object's destructor, whose exit sequence still posts the shutdown event
// (over HTTPS in the field). The process is ending; what OpenSSL holds goes
// with it.
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
    // The loaded and set-up library; null when it cannot be loaded.
    static const CurlLibrary* Get();

    // libcurl's functions that HttpPost calls, all resolved.
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
    static const CurlLibrary* Load();
    bool Resolve(void* handle, std::string& missing);
};
