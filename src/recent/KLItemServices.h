#pragma once
// What an item needs from the program around it, handed in by the item's owner (the
// recent-files collector, the Cooler's list; a stack hands its own to its sub-items): the
// thumbnail queue its picture comes from, the open panel that picks a replacement for a missing
// file, and who hears that an item's picture may have changed. The shell makes one for the
// program; tests make theirs with fakes. An item without services asks nobody: it shows no
// picture and cannot pick a replacement.
#include <QString>
#include <functional>
#include <memory>

class ThumbnailQueue;

struct KLItemServices {
    // Where cell pictures are asked for; none: no pictures.
    ThumbnailQueue *thumbnails = nullptr;
    // The open panel for a missing file: given the message, the prompt and the path the file
    // had, answers the chosen path (empty when cancelled). Main thread.
    std::function<QString(const QString &message, const QString &prompt, const QString &formerPath)> pickReplacement;
    // "iconMayHaveChanged": an item's file was found again or replaced (main thread).
    std::function<void()> iconMayHaveChanged;
};

using KLItemServicesPtr = std::shared_ptr<KLItemServices>;
