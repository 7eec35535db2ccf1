#pragma once
// What a requester of cell pictures needs from the thumbnail queue, and nothing more. The
// program's queue (KPQuickLook::sharedQueue()) implements it; tests hand in their own.
#include "thumbs/ThumbnailRequest.h"

class ThumbnailQueue
{
public:
    virtual ~ThumbnailQueue() = default;
    // True while so many requests wait that requesters should hold off and ask again later.
    virtual bool busy() const = 0;
    // Queues the request unless an equal one waits or runs. `done` is called once when it
    // has run: queued to the main thread when `callMainThread`, else on the worker thread.
    virtual void thumbnailImageCreate(const ThumbnailRequest &request, ThumbnailCallback done, bool callMainThread) = 0;
};
