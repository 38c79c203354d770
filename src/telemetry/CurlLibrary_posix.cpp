#include <dlfcn.h>

#include <cstdlib>
#include <mutex>

#include "telemetry/CurlLibrary.h"

namespace {

constexpr char kDefaultFileName[] = "libcurl.so.4";
constexpr char kOff[] = "; telemetry and crash report upload are off";

template <typename Function>
bool Bind(void* handle, const char* name, Function& function, std::string& missing) {
    function = reinterpret_cast<Function>(dlsym(handle, name));
    if (!function && missing.empty()) missing = name;
    return function != nullptr;
}

}  // namespace

const CurlLibrary* CurlLibrary::Get(std::string* why) {
    static std::once_flag loaded;
    static const CurlLibrary* library = nullptr;
    static std::string reason;
    std::call_once(loaded, [] { library = Load(reason); });
    if (!library && why) *why = reason;
    return library;
}

std::string CurlLibrary::FileName() {
    const char* configured = std::getenv("KESTREL_CURL_LIBRARY");
    return configured && *configured ? configured : kDefaultFileName;
}

const CurlLibrary* CurlLibrary::Load(std::string& why) {
    std::string name = FileName();
    if (name.find('/') != std::string::npos) {
        why = "CurlLibrary::Load: " + name + " is not a bare file name" + kOff;
        return nullptr;
    }
    void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* reason = dlerror();
        why = "CurlLibrary::Load: " + name + " cannot be loaded (" + (reason ? reason : "no reason given") +
              ")" + kOff;
        return nullptr;
    }
    // Never unloaded, also when unusable: its clean-up may be registered already.
    auto* library = new CurlLibrary;
    decltype(&curl_global_init) globalInit = nullptr;
    std::string missing;
    if (!library->Resolve(handle, missing) || !Bind(handle, "curl_global_init", globalInit, missing)) {
        why = "CurlLibrary::Load: " + name + " has no " + missing + " (too old)" + kOff;
        delete library;
        return nullptr;
    }
    CURLcode result = globalInit(CURL_GLOBAL_DEFAULT);
    if (result != CURLE_OK) {
        why = "CurlLibrary::Load: " + name + " could not be set up (curl code " +
              std::to_string(static_cast<int>(result)) + ")" + kOff;
        delete library;
        return nullptr;
    }
    return library;
}

bool CurlLibrary::Resolve(void* handle, std::string& missing) {
    bool all = Bind(handle, "curl_easy_init", easyInit, missing);
    all &= Bind(handle, "curl_easy_setopt", easySetopt, missing);
    all &= Bind(handle, "curl_easy_getinfo", easyGetinfo, missing);
    all &= Bind(handle, "curl_easy_cleanup", easyCleanup, missing);
    all &= Bind(handle, "curl_multi_init", multiInit, missing);
    all &= Bind(handle, "curl_multi_add_handle", multiAddHandle, missing);
    all &= Bind(handle, "curl_multi_perform", multiPerform, missing);
    all &= Bind(handle, "curl_multi_poll", multiPoll, missing);
    all &= Bind(handle, "curl_multi_remove_handle", multiRemoveHandle, missing);
    all &= Bind(handle, "curl_multi_cleanup", multiCleanup, missing);
    all &= Bind(handle, "curl_url", url, missing);
    all &= Bind(handle, "curl_url_set", urlSet, missing);
    all &= Bind(handle, "curl_url_cleanup", urlCleanup, missing);
    all &= Bind(handle, "curl_slist_append", slistAppend, missing);
    all &= Bind(handle, "curl_slist_free_all", slistFreeAll, missing);
    return all;
}
