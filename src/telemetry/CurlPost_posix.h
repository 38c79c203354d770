#pragma once
// kestrel-post's one transfer: the request posted with libcurl, each response
// header line and each run of body bytes written to a file descriptor as a
// frame as soon as it arrives. The plug-in's side (HttpPost_posix.cpp) reads
// them, cuts the body into the sink's chunks, applies the response limit and
// the shared deadline, and ends the helper when it has what it needs.

#include "telemetry/CurlLibrary.h"
#include "telemetry/PostFrames.h"

// Posts |request| and writes what comes back to |out|. Returns false when the
// URL cannot be parsed (no request is made) or the transfer cannot be set up.
// A libcurl that cannot limit the transfer to http and https makes no
// request either: |out| then gets the kUnavailable frame that says so.
bool CurlPost(const CurlLibrary& lib, const PostRequest& request, int out);

// Writes one frame to |out|; false when the plug-in no longer reads (it ended the post).
bool SendPostFrame(int out, char type, std::string_view payload);
