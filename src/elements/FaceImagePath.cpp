#include "elements/FaceImagePath.h"

#include <system_error>

#include "elements/KeyTexts.h"
#include "graphics/ResolveModulePath.h"

namespace {

constexpr const char* kFacesFolder = "faces";  // art/images_list.py FACES

}  // namespace

std::filesystem::path FaceImagePath::Resolve(const std::string& fileName) {
    const std::filesystem::path english = ResolveModulePath(fileName);
    return ResolveIn(english.parent_path(), KeyTexts::Language(), english.filename().string());
}

std::filesystem::path FaceImagePath::ResolveIn(const std::filesystem::path& folder,
                                               const std::string& language, const std::string& fileName) {
    const std::filesystem::path english = folder / fileName;
    if (language == "en") return english;
    const std::filesystem::path localized = folder / kFacesFolder / language / fileName;
    std::error_code error;  // unreadable counts as absent: the English face is there
    return std::filesystem::is_regular_file(localized, error) ? localized : english;
}
