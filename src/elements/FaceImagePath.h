#pragma once
// Where a key face's file lies for the host's language: the art draws each
// face once more per language whose label differs from the English one, into
// faces/<language>/ of the plug-in folder; any other face, and every face in
// English, is the file at the folder's root.

#include <filesystem>
#include <string>

class FaceImagePath {
public:
    // The file to load for |fileName| in KeyTexts' language, in the folder
    // of the running executable.
    static std::filesystem::path Resolve(const std::string& fileName);
    // The same in |folder| and |language|: the language's face where there is
    // one, else the English face.
    static std::filesystem::path ResolveIn(const std::filesystem::path& folder, const std::string& language,
                                           const std::string& fileName);
};
