#include "KeyImageWork.h"

#include <cstring>

#include "graphics/ResolveModulePath.h"

namespace {

const char* const kImageFiles[] = {"overlays_reload.png",
                                   "emberfall.png",
                                   "cup_empty.png",
                                   "alerts_skip.png",
                                   "alerts_mute_on.png",
                                   "alerts_mute_off.png",
                                   "streaming_state_off.png",
                                   "streaming_state_on.png",
                                   "alerts_pause_on.png",
                                   "alerts_pause_off.png",
                                   "alerts_pause_on_now.png",
                                   "alerts_pause_off_now.png",
                                   "media_request_on.png",
                                   "media_request_off.png",
                                   "media_request_video_on.png",
                                   "media_request_video_off.png",
                                   "media_request_hide_this_video.png",
                                   "emberfall_pump.png",
                                   "emberfall_pump1.png",
                                   "emberfall_pump2.png",
                                   "emberfall_pump3.png",
                                   "emberfall_pump4.png",
                                   "media_request_pause_on.png",
                                   "media_request_pause_off.png",
                                   "media_request_next_item.png",
                                   "media_request_prev_item.png",
                                   "media_request_nudge_volume_up.png",
                                   "media_request_nudge_volume_down.png",
                                   "media_request_set_volume_level_percent_10.png",
                                   "media_request_set_volume_level_percent_20.png",
                                   "media_request_set_volume_level_percent_30.png",
                                   "media_request_set_volume_level_percent_40.png",
                                   "media_request_set_volume_level_percent_50.png",
                                   "media_request_set_volume_level_percent_60.png",
                                   "media_request_set_volume_level_percent_70.png",
                                   "media_request_set_volume_level_percent_80.png",
                                   "media_request_set_volume_level_percent_90.png",
                                   "media_request_set_volume_level_percent_100.png",
                                   "media_request_mute_off.png",
                                   "media_request_mute_on.png",
                                   "media_request_widget_off.png",
                                   "media_request_widget_on.png",
                                   "state_error.png",
                                   "state_alert.png",
                                   "state_success.png",
                                   "state_offline.png",
                                   "state_logged_out.png",
                                   "state_not_supported.png"};

std::shared_ptr<Graphics> Load(const char* fileName) {
    return std::make_shared<Graphics>(ResolveModulePath(std::string(fileName)));
}

}  // namespace

KeyImageWork::KeyImageWork()
    : m_base(Load("media_request_video_on.png")),
      m_status(Load("state_offline.png")),
      m_transient(Load("state_alert.png")) {}

bool KeyImageWork::Ready() const {
    return m_base->HasImage() && m_status->HasImage() && m_transient->HasImage();
}

size_t KeyImageWork::ComposeAndEncode() const {
    Graphics key(*m_base);
    key.Compose(*m_status);
    key.Compose(*m_transient);
    std::string text;
    return key.ToBase64Png(text) ? text.size() : 0;
}

double KeyImageWork::AverageBase64Size(size_t* imageCount) {
    size_t total = 0;
    size_t count = 0;
    for (const char* fileName : kImageFiles) {
        std::string text;
        if (Load(fileName)->ToBase64Png(text)) {
            total += text.size();
            ++count;
        }
    }
    if (imageCount) *imageCount = count;
    return count ? static_cast<double>(total) / count : 0.0;
}
