// The parts of the HTTP client that do not depend on the platform's HTTP stack.
#include "net/http_client.h"

#include "core/text.h"

namespace brisal {

std::string HttpErrorText(std::uint32_t error) {
  switch (error) {
    case 0:
      return "Error desconocido";
    case http_error::kTimeout:
      return "El servidor tard\xC3\xB3 demasiado en responder";
    case http_error::kNameNotResolved:
      return "No se encontr\xC3\xB3 el servidor (revisa la direcci\xC3\xB3n en config.json)";
    case http_error::kCannotConnect:
      return "No se pudo conectar con el servidor (\xC2\xBF"
             "est\xC3\xA1 encendido?)";
    case http_error::kConnectionError:
      return "Se perdi\xC3\xB3 la conexi\xC3\xB3n con el servidor";
    case http_error::kSecureCertDateInvalid:
    case http_error::kSecureCertCnInvalid:
    case http_error::kSecureInvalidCa:
    case http_error::kSecureInvalidCert:
    case http_error::kSecureFailure:
      return "Error de certificado HTTPS";
    default: {
      char buffer[64];
      FormatNarrow(buffer, sizeof buffer,
                   "Error de red (c\xC3\xB3"
                   "digo %lu)",
                   static_cast<unsigned long>(error));
      return buffer;
    }
  }
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
