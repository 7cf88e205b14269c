// What an upload sends and what it gets back: form fields, files, the
// request, the proxy description and the response. Nothing here talks to
// the network. Field names and values, content types, the response header
// block and body are byte strings (std::string, sent as they are); paths,
// host names and messages are texts (std::wstring).
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace http {

struct THTTPUploaderField {
    std::string Name;
    std::string Value;
};

struct THTTPUploaderFile {
    std::string FieldName;
    std::string ContentType;
    std::wstring PathName;
    // The file name the part carries; empty: the name of PathName. A copy
    // made for sending (a compressed one in a temporary folder) goes out
    // under the name it stands for.
    std::wstring SendName{};
};

// An ordered list that owns its items. Indexes outside 0..Count()-1 raise
// rtl::EListError "List index out of bounds (%d)".
template <class T>
class TOwnedList {
public:
    int Count() const { return static_cast<int>(FItems.size()); }
    T& GetItem(int index) const;
    // Replaces (and destroys) the item at `index`.
    void SetItem(int index, std::unique_ptr<T> item);
    void Clear() { FItems.clear(); }

protected:
    int Append(std::unique_ptr<T> item) {
        FItems.push_back(std::move(item));
        return Count() - 1;
    }

private:
    void CheckIndex(int index) const;
    std::vector<std::unique_ptr<T>> FItems;
};

class THTTPUploaderFields : public TOwnedList<THTTPUploaderField> {
public:
    int Add(const std::string& name, const std::string& value);
};

class THTTPUploaderFiles : public TOwnedList<THTTPUploaderFile> {
public:
    // An empty content type stores "application/octet-stream".
    int Add(const std::string& fieldName, const std::wstring& pathName, const std::string& contentType = {},
            const std::wstring& sendName = {});
};

class THTTPUploaderRequest {
public:
    std::wstring Agent;
    std::wstring HostName;  // may carry ":port" after the name
    std::wstring UrlPath;   // with the leading "/" and any query
    std::wstring Protocol;  // exactly "https" means a secure connection
    std::wstring Verb;      // empty: the engine chooses POST or GET

    std::wstring URL() const { return Protocol + L"://" + HostName + UrlPath; }
    // Splits "protocol://host/path". Without "://" nothing changes; without a
    // "/" after the host only Protocol changes.
    void SetURL(const std::wstring& url);
};

class THTTPUploaderResponse {
public:
    THTTPUploaderResponse() = default;
    THTTPUploaderResponse(const THTTPUploaderResponse&) = delete;
    THTTPUploaderResponse& operator=(const THTTPUploaderResponse&) = delete;

    int StatusCode = 0;
    // The body was longer than what is kept in memory and is cut.
    bool BodyCut = false;

    const std::string& Headers() const { return FHeaders; }
    // Stores the raw header block and takes the file name of its
    // Content-Disposition header, when it names one.
    void SetHeaders(const std::string& headers);
    const std::string& ContentDispositionFilename() const { return FContentDispositionFilename; }

    // The body, followed by one zero byte; null while the body is empty.
    const char* PMessageBody() const { return FBody.empty() ? nullptr : FBody.data(); }
    uint32_t MessageBodyLength() const { return FBody.empty() ? 0 : static_cast<uint32_t>(FBody.size() - 1); }
    // The body up to (not including) its first zero byte.
    std::string MessageBodyAsString() const;

    void ClearBody() {
        std::vector<char>().swap(FBody);
        BodyCut = false;
    }
    void AppendBody(const char* data, uint32_t length);

private:
    std::string FHeaders;
    std::string FContentDispositionFilename;
    std::vector<char> FBody;
};

class THTTPUploaderProxy {
public:
    std::wstring Server;  // empty: direct connection
    int Port = 0;
    std::wstring Username;  // empty: no stored credentials
    std::wstring Password;

    // Server, then ":" and the port when the port is above 0.
    std::wstring Describe(bool https) const;
};

}  // namespace http
