#pragma once
// The words that the plug-in puts on keys while it runs (as titles, which the
// host draws in its own font), in the host application's language: one table
// of every such text in the eight languages the host speaks, English when the
// language is another one. The words drawn on the key faces are in
// KeyFaceTexts.inc, which the artwork draws the faces of each language from
// (and which holds the list of languages).
//
// Threads: the language is set once at start-up, before the plug-in's threads
// begin; any thread may read it (it is atomic).

#include <string>

class KeyTexts {
public:
    enum class Text {
        HoldHint,  // after a key that holds to confirm was released too early
        // On a dial's touch strip, the state that keeps it from working, the mute state,
        // and what turning and pushing the dial do.
        Offline,
        SignedOut,
        NotSupported,
        Muted,
        DialRotate,
        DialMute,
    };

    // "de", "en", "es", "fr", "ja", "ko", "zh_CN" or "zh_TW"; anything else
    // (regional forms such as "de_AT" are taken by their language) is English.
    static void SetLanguage(const std::string& language);
    // The code in use, from the list above.
    static std::string Language();
    static const char* Get(Text text);

    // The application's language from the host's "-info" text, or "en" when
    // the text holds none (with one log line when it is not JSON).
    static std::string LanguageOfInfo(const std::string& info);
};
