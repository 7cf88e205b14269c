// The hook that lets a user interface breathe while the engine downloads an
// answer. The engine knows only this abstract class; a GUI program installs
// an implementation at start-up (httpuploader_messageprocessor_forms), a
// console program installs none and gets no pumping.
#pragma once

namespace http {

class THTTPUploader_MessageProcessor {
public:
    virtual ~THTTPUploader_MessageProcessor() = default;
    // The base class has no implementation: calling it raises
    // rtl::EAbstractError.
    virtual void ProcessMessages();
};

// The installed processor, owned by the module that installed it; null when
// none is installed.
extern THTTPUploader_MessageProcessor* HTTPUploader_MessageProcessor;

// Runs the installed processor, if any.
void HTTPUploader_ProcessMessages();

}  // namespace http
