#pragma once
// Which threads the controller client runs; a small header so that the
// plug-in object can pass the choice on without including the client.

enum class ControllerThreads {
    // The product: a write thread writes the queued commands and a
    // housekeeping thread keeps the link up.
    WriteAndHousekeeping,
    // No thread of its own (the fuzz targets): a command is written on the
    // thread that queues it, before WriteMessageAsync returns, and the link
    // is brought up again only by a write or ReconnectNow. Every call then
    // comes from that one thread.
    CallersThread,
};
