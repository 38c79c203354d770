#include "elements/KeyTexts.h"

#include <atomic>
#include <nlohmann/json.hpp>

#include "diagnostics/BoundedJson.h"
#include "diagnostics/Log.h"

namespace {

// The languages come from the table of the key faces' words, which the
// artwork draws a set of faces from for each of them.
#define KEY_FACE_LANGUAGES(...) constexpr const char* kLanguages[] = {__VA_ARGS__};
#define KEY_FACE_TEXT(name, ...)
#include "elements/KeyFaceTexts.inc"
#undef KEY_FACE_LANGUAGES
#undef KEY_FACE_TEXT
constexpr size_t kLanguageCount = sizeof kLanguages / sizeof kLanguages[0];

// One row per text, one column per language in the order of kLanguages.
constexpr const char* kTable[][kLanguageCount] = {
    // HoldHint: short enough for a key, as a request to hold the key down.
    {"Hold", "Halten", "Mantén", "Maintenir", "長押し", "길게 누르기", "长按", "長按"},
    {"Offline", "Offline", "Sin conexión", "Hors ligne", "オフライン", "오프라인", "离线", "離線"},
    {"Signed out", "Abgemeldet", "Sesión cerrada", "Déconnecté", "ログアウト中", "로그아웃됨", "已退出登录",
     "已登出"},
    {"Not supported", "Nicht unterstützt", "No compatible", "Non pris en charge", "非対応", "지원되지 않음",
     "不支持", "不支援"},
    {"Muted", "Stumm", "Silenciado", "Muet", "ミュート中", "음소거됨", "已静音", "已靜音"},
    {"Volume", "Lautstärke", "Volumen", "Volume", "音量", "볼륨", "音量", "音量"},
    {"Mute / unmute", "Stumm an/aus", "Silenciar / activar", "Muet / son", "ミュート切替", "음소거 전환",
     "静音切换", "靜音切換"},
};

std::atomic<size_t> g_language{0};

// The index of |language| in kLanguages, or the first (English).
size_t LanguageIndex(const std::string& language) {
    for (size_t index = 0; index < kLanguageCount; ++index)
        if (language == kLanguages[index]) return index;
    const std::string primary = language.substr(0, language.find_first_of("_-"));
    if (primary == "zh") {
        const bool traditional = language.find("TW") != std::string::npos ||
                                 language.find("HK") != std::string::npos ||
                                 language.find("Hant") != std::string::npos;
        return LanguageIndex(traditional ? "zh_TW" : "zh_CN");
    }
    for (size_t index = 0; index < kLanguageCount; ++index)
        if (primary == kLanguages[index]) return index;
    return 0;
}

}  // namespace

void KeyTexts::SetLanguage(const std::string& language) {
    g_language.store(LanguageIndex(language));
}

std::string KeyTexts::Language() {
    return kLanguages[g_language.load()];
}

const char* KeyTexts::Get(Text text) {
    return kTable[static_cast<size_t>(text)][g_language.load()];
}

std::string KeyTexts::LanguageOfInfo(const std::string& info) {
    nlohmann::json document;
    std::string reason;
    if (!BoundedJson::Parse(info, document, reason)) {
        LogWarning("KeyTexts::LanguageOfInfo: -info is not readable (%s); English", reason.c_str());
        return "en";
    }
    const auto application = document.find("application");
    if (!document.is_object() || application == document.end() || !application->is_object()) return "en";
    const auto language = application->find("language");
    if (language == application->end() || !language->is_string()) return "en";
    return kLanguages[LanguageIndex(language->get<std::string>())];
}
