#include "http/httpuploader_messageprocessor.h"

#include "rtl/Exception.h"
#include "rtl/Raise.h"

namespace http {

THTTPUploader_MessageProcessor* HTTPUploader_MessageProcessor = nullptr;

void THTTPUploader_MessageProcessor::ProcessMessages() { rtl::RaiseNew<rtl::EAbstractError>(L"Abstract Error"); }

void HTTPUploader_ProcessMessages() {
    if (HTTPUploader_MessageProcessor) HTTPUploader_MessageProcessor->ProcessMessages();
}

}  // namespace http
