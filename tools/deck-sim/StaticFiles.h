#pragma once
// Maps the path of an HTTP request onto a file below one folder, refusing
// anything that could leave it ("..", encoded separators, NUL bytes, links
// pointing outside), and names the content type of what it serves.

#include <optional>
#include <string>

class StaticFiles {
public:
    explicit StaticFiles(std::string root);

    // The file for |urlPath| (the path part of the request, "/" prefixed and
    // percent-encoded; a query is ignored); nothing when it is unsafe or absent.
    // "/" and paths ending in "/" mean "index.html" there.
    std::optional<std::string> Resolve(const std::string& urlPath) const;

    // The file's bytes; nothing when unreadable.
    static std::optional<std::string> Read(const std::string& file);
    static std::string ContentType(const std::string& file);

private:
    std::string m_root;
};
