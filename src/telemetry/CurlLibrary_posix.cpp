#include <dlfcn.h>

#include <cstdint>
#include <cstdlib>
#include <mutex>

#include "diagnostics/Log.h"
#include "telemetry/CurlLibrary.h"

namespace {

constexpr char kDefaultFileName[] = "libcurl.so.4";

// OpenSSL's own declaration (openssl/crypto.h, 1.1.1b and later): its
// headers are not needed for this one call.
using OpensslInitCrypto = int (*)(uint64_t options, const void* settings);
constexpr uint64_t kOpensslInitNoAtexit = 0x00080000;

template <typename Function>
bool Bind(void* handle, const char* name, Function& function, std::string& missing) {
    function = reinterpret_cast<Function>(dlsym(handle, name));
    if (!function && missing.empty()) missing = name;
    return function != nullptr;
}

// Asks OpenSSL, when libcurl brought it in, not to clean itself up at exit.
// Only the first set-up decides, so this comes before curl_global_init.
void KeepTlsLibraryToTheEnd(void* handle) {
    auto initCrypto = reinterpret_cast<OpensslInitCrypto>(dlsym(handle, "OPENSSL_init_crypto"));
    if (initCrypto) initCrypto(kOpensslInitNoAtexit, nullptr);
}

}  // namespace

const CurlLibrary* CurlLibrary::Get() {
    static std::once_flag loaded;
    static const CurlLibrary* library = nullptr;
    std::call_once(loaded, [] { library = Load(); });
    return library;
}

std::string CurlLibrary::FileName() {
    const char* configured = std::getenv("KESTREL_CURL_LIBRARY");
    return configured && *configured ? configured : kDefaultFileName;
}

const CurlLibrary* CurlLibrary::Load() {
    std::string name = FileName();
    if (name.find('/') != std::string::npos) {
        LogWarning("CurlLibrary::Load: %s is not a bare file name; telemetry and crash report upload are off",
                   name.c_str());
        return nullptr;
    }
    void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* reason = dlerror();
        LogWarning("CurlLibrary::Load: %s cannot be loaded (%s); telemetry and crash report upload are off",
                   name.c_str(), reason ? reason : "no reason given");
        return nullptr;
    }
    // Never unloaded, also when unusable: its clean-up may be registered already.
    auto* library = new CurlLibrary;
    decltype(&curl_global_init) globalInit = nullptr;
    std::string missing;
    if (!library->Resolve(handle, missing) || !Bind(handle, "curl_global_init", globalInit, missing)) {
        LogWarning("CurlLibrary::Load: %s has no %s (too old); telemetry and crash report upload are off",
                   name.c_str(), missing.c_str());
        delete library;
        return nullptr;
    }
    KeepTlsLibraryToTheEnd(handle);
    CURLcode result = globalInit(CURL_GLOBAL_DEFAULT);
    if (result != CURLE_OK) {
        LogWarning(
            "CurlLibrary::Load: %s could not be set up (curl code %d); telemetry and crash report "
            "upload are off",
            name.c_str(), static_cast<int>(result));
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
