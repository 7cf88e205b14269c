// A support send that runs on a thread of its own while the window that
// started it keeps handling its messages: the window repaints, moves and
// answers Cancel while the upload resolves a name, connects, or waits for a
// server that does not answer.
//
//   TBackgroundSend send;
//   send.OnProgress = [&](const TSendProgress& p) { ... };   // window thread
//   send.IsCancelled = [&] { return cancelRequested; };       // window thread
//   TSendResult result = send.Run(package);                   // returns when done
//
// A cancel ends Run within kCancelGrace even when the upload is stuck in a
// blocking step; the upload then stops on its own at its next step (or at
// its time-out) and whatever it ends with is dropped.
#pragma once
#include <functional>
#include <string>

#include "support/SupportUpload.h"

namespace support {

class TBackgroundSend {
public:
    // How long a cancelled upload may take to stop before Run returns
    // without it.
    static constexpr unsigned kCancelGrace = 200;  // milliseconds

    // Called on the calling thread with the newest progress, at most once
    // per message round; reports the worker made in between are merged.
    std::function<void(const TSendProgress&)> OnProgress;
    // Asked on the calling thread after each round of messages.
    std::function<bool()> IsCancelled;
    // The program name sent with the package.
    std::wstring Program = kSupportProgramName;

    // Sends on a new thread and handles the calling thread's messages until
    // the send ended, the user cancelled or the application was told to end.
    TSendResult Run(const TSupportPackage& package);
};

}  // namespace support
