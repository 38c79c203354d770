#pragma once
// What the controller client calls once a queued command has been written
// (accepted) or dropped; a small header so that callers that only hand
// completions on need not include the client.

#include <functional>

class MessageBase;

using WriteCompletion = std::function<void(const MessageBase& message, bool accepted)>;
