#include "support/BackgroundSend.h"

#include <algorithm>
#include <atomic>
#include <memory>

#include "rtl/Application.h"
#include "rtl/ScopedHandle.h"
#include "rtl/Try.h"
#include "rtl/Win.h"

namespace support {

namespace {

// What the window thread and the sending thread share. Whichever of the two
// lets go last frees it: after a cancel the window thread may be gone from
// Run long before the sender's blocking call returns.
struct TShared {
    TSupportPackage Package;
    TSendRoute Route;
    std::wstring Program;
    std::atomic<bool> Cancel{false};
    rtl::ScopedKernelObject Done;  // set once Result holds the outcome
    TSendResult Result;

    CRITICAL_SECTION Lock;  // guards Progress and HasProgress
    TSendProgress Progress;
    bool HasProgress = false;

    TShared() { InitializeCriticalSection(&Lock); }
    ~TShared() { DeleteCriticalSection(&Lock); }
    TShared(const TShared&) = delete;
    TShared& operator=(const TShared&) = delete;

    void PutProgress(const TSendProgress& progress) {
        EnterCriticalSection(&Lock);
        Progress = progress;
        HasProgress = true;
        LeaveCriticalSection(&Lock);
    }
    bool TakeProgress(TSendProgress& progress) {
        EnterCriticalSection(&Lock);
        const bool had = HasProgress;
        if (had) progress = Progress;
        HasProgress = false;
        LeaveCriticalSection(&Lock);
        return had;
    }
};

void SendShared(TShared& shared) {
    rtl::Try(
        [&] {
            TSupportSender sender;
            sender.Program = shared.Program;
            sender.OnProgress = [&shared](const TSendProgress& p) { shared.PutProgress(p); };
            sender.OnCheckCancel = [&shared] { return shared.Cancel.load(); };
            shared.Result = sender.Send(shared.Package, shared.Route);
        },
        // The sender turns every failure a user can meet into a result; what
        // still arrives here is reported the same way instead of ending the
        // thread with the window waiting for it.
        rtl::OnAny([&](rtl::Exception& e) {
            shared.Result = TSendResult();
            shared.Result.Message = L"The files could not be sent: " + e.Message;
            shared.Result.Detail = e.ClassName();
        }));
    SetEvent(shared.Done.Get());
}

DWORD WINAPI SendThread(void* parameter) {
    std::unique_ptr<std::shared_ptr<TShared>> ticket(static_cast<std::shared_ptr<TShared>*>(parameter));
    SendShared(**ticket);
    return 0;
}

// Handles the calling thread's messages until `done` is set or `timeout`
// milliseconds passed; answers whether it was set.
bool WaitHandlingMessages(HANDLE done, DWORD timeout) {
    const DWORD woken = MsgWaitForMultipleObjectsEx(1, &done, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woken == WAIT_OBJECT_0) return true;
    if (rtl::Application) {
        rtl::Application->ProcessMessages();
    } else {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return WaitForSingleObject(done, 0) == WAIT_OBJECT_0;
}

}  // namespace

TSendResult TBackgroundSend::Run(const TSupportPackage& package) {
    auto shared = std::make_shared<TShared>();
    shared->Package = package;
    shared->Route = ReadSendRoute();  // here, while nothing can change the settings
    shared->Program = Program;
    shared->Done.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    auto* ticket = new std::shared_ptr<TShared>(shared);
    rtl::ScopedKernelObject thread(shared->Done ? CreateThread(nullptr, 0, &SendThread, ticket, 0, nullptr) : nullptr);
    if (!thread) {
        // No thread to send on: send here, without a live window meanwhile,
        // rather than not at all.
        delete ticket;
        TSupportSender sender;
        sender.Program = Program;
        sender.OnProgress = OnProgress;
        sender.OnCheckCancel = IsCancelled;
        return sender.Send(shared->Package, shared->Route);
    }

    // Rounds of at most 50 ms, so progress shows while no message arrives.
    const DWORD kRound = 50;
    DWORD cancelledAt = 0;
    bool cancelled = false;
    for (;;) {
        DWORD wait = kRound;
        if (cancelled) {
            const DWORD waited = GetTickCount() - cancelledAt;
            if (waited >= kCancelGrace) return CancelledSendResult();
            wait = std::min<DWORD>(wait, kCancelGrace - waited);
        }
        const bool done = WaitHandlingMessages(shared->Done.Get(), wait);
        TSendProgress progress;
        if (shared->TakeProgress(progress) && OnProgress && !cancelled) OnProgress(progress);
        if (done) break;
        if (!cancelled && ((IsCancelled && IsCancelled()) || (rtl::Application && rtl::Application->Terminated()))) {
            cancelled = true;
            cancelledAt = GetTickCount();
            shared->Cancel = true;
        }
    }
    return shared->Result;
}

}  // namespace support
