#include "http/httpuploader_messageprocessor_forms.h"

#include "rtl/Forms.h"

namespace http {

namespace {
THTTPUploader_MessageProcessor_Forms* gOwnProcessor = nullptr;
}

void THTTPUploader_MessageProcessor_Forms::ProcessMessages() {
    if (rtl::Application) rtl::Application->ProcessMessages();
}

void HTTPUploaderMessageProcessorFormsStartup() {
    if (gOwnProcessor) return;
    gOwnProcessor = new THTTPUploader_MessageProcessor_Forms;
    HTTPUploader_MessageProcessor = gOwnProcessor;
}

void HTTPUploaderMessageProcessorFormsShutdown() {
    THTTPUploader_MessageProcessor_Forms* own = gOwnProcessor;
    if (HTTPUploader_MessageProcessor == own) HTTPUploader_MessageProcessor = nullptr;
    gOwnProcessor = nullptr;
    delete own;
}

}  // namespace http
