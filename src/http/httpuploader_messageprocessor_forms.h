// The message processor of GUI programs: while the engine downloads an
// answer it runs the application's message pump once per block, so windows
// repaint and stay responsive. The program's start-up installs it and its
// shutdown removes it; a console program links neither.
#pragma once
#include "http/httpuploader_messageprocessor.h"

namespace http {

class THTTPUploader_MessageProcessor_Forms : public THTTPUploader_MessageProcessor {
public:
    // Dispatches every waiting window message and returns when the queue is
    // empty.
    void ProcessMessages() override;
};

// Start-up step: creates the processor and installs it as
// HTTPUploader_MessageProcessor (once; a second call changes nothing).
void HTTPUploaderMessageProcessorFormsStartup();
// Shutdown step: clears HTTPUploader_MessageProcessor first, then destroys
// the processor, so a later upload runs without pumping.
void HTTPUploaderMessageProcessorFormsShutdown();

}  // namespace http
