// The parts of the HTTP client that do not depend on the platform's HTTP stack.
#include "net/http_client.h"

#include "core/messages.h"
#include "core/text.h"

namespace brisal {

std::string HttpErrorText(std::uint32_t error) {
  return Sentence(Message(MessageCode::kNetworkError, {}, error));
}

SmallDocument FetchSmallDocument(HttpClient& client, const std::string& path,
                                 const std::string& extra_headers, std::uint64_t cap,
                                 const std::atomic<bool>* cancel) {
  SmallDocument document;
  document.result = client.Get(
      path, extra_headers, nullptr,
      [&document, cap](const char* data, std::uint32_t length) {
        if (document.body.size() + length > cap) {
          document.too_large = true;
          return false;
        }
        document.body.append(data, length);
        return true;
      },
      cancel);
  return document;
}

std::string BuildObjectName(const std::string& base_path, const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  const std::size_t question = path.find('?');
  const std::size_t path_end = question == std::string::npos ? path.size() : question;

  std::string object = base_path;
  object.reserve(base_path.size() + path.size() * 3);
  for (std::size_t i = 0; i < path_end; ++i) {
    const unsigned char byte = static_cast<unsigned char>(path[i]);
    const bool keep = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                      (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
                      byte == '~' || byte == '/';
    if (keep) {
      object.push_back(static_cast<char>(byte));
    } else {
      object.push_back('%');
      object.push_back(kHex[byte >> 4]);
      object.push_back(kHex[byte & 0x0F]);
    }
  }
  if (question != std::string::npos && question + 1 < path.size()) {
    object.push_back('?');
    object.append(path, question + 1, std::string::npos);
  }
  return object;
}

}  // namespace brisal
