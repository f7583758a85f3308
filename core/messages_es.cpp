// The Spanish sentences of every MessageCode.
#include <string>

#include "core/messages.h"
#include "core/network_errors.h"
#include "core/text.h"

namespace brisal {

namespace {

std::string NetworkErrorSentence(std::uint64_t error) {
  switch (error) {
    case 0:
      return "Error desconocido";
    case http_error::kTimeout:
      return "El servidor tardó demasiado en responder";
    case http_error::kNameNotResolved:
      return "No se encontró el servidor (revisa la dirección en config.json)";
    case http_error::kCannotConnect:
      return "No se pudo conectar con el servidor (¿está encendido?)";
    case http_error::kConnectionError:
      return "Se perdió la conexión con el servidor";
    case http_error::kSecureCertDateInvalid:
    case http_error::kSecureCertCnInvalid:
    case http_error::kSecureInvalidCa:
    case http_error::kSecureInvalidCert:
    case http_error::kSecureFailure:
      return "Error de certificado HTTPS";
    default:
      return StringPrintf("Error de red (código %lu)", static_cast<unsigned long>(error));
  }
}

std::string Http(std::uint64_t status) {
  return std::to_string(status);
}

}  // namespace

Message Wrap(MessageCode code, Message cause) {
  Message wrapped(code);
  wrapped.causes.push_back(std::move(cause));
  return wrapped;
}

std::string Sentence(const Message& m) {
  const std::string& s = m.subject;
  const std::string cause = m.causes.empty() ? std::string() : Sentence(m.causes.front());
  switch (m.code) {
    case MessageCode::kNone:
      return "";
    case MessageCode::kManifestBadHash:  // SHIM
    case MessageCode::kVerbatim:         // SHIM
      return s;
    case MessageCode::kInternalError:
      return "Error interno: " + s;
    case MessageCode::kInternalUnexpected:
      return "Error interno inesperado";
    case MessageCode::kCannotStartTask:
      return "Error interno: no se pudo iniciar la tarea";
    case MessageCode::kCannotStartDownload:
      return "Error interno: no se pudo iniciar la descarga";
    case MessageCode::kNetworkError:
      return NetworkErrorSentence(m.number);
    case MessageCode::kServerAnsweredHttp:
      return "El servidor respondió HTTP " + Http(m.number) + " al pedir " + SafeText(s);
    case MessageCode::kBadBaseUrl:
      return "La dirección del servidor no es válida (base_url en config.json)";
    case MessageCode::kFolderBusy:
      return "Otro proceso del launcher está usando esta carpeta";
    case MessageCode::kCannotCreateInstallFolder:
      return "No se pudo crear la carpeta de instalación. Elige otra carpeta.";
    case MessageCode::kSignatureFetchFailed:
      return "No se pudo obtener la firma del manifiesto: " + NetworkErrorSentence(m.number);
    case MessageCode::kSignatureMissing:
      return "Falta la firma del manifiesto: el servidor respondió HTTP " + Http(m.number) +
             " al pedir " + SafeText(s);
    case MessageCode::kSignatureInvalid:
      return "La firma del manifiesto no es válida";
    case MessageCode::kManifestRolledBack:
      return "El servidor ofrece una versión anterior del cliente";
    case MessageCode::kManifestExpired:
      return "El manifiesto ha caducado";
    case MessageCode::kManifestGuardsMalformed:
      return "El manifiesto tiene \"serial\" o \"expires\" con formato incorrecto";
    case MessageCode::kManifestKeyInvalid:
      return "manifest_key en config.json no es una clave pública válida: no se aceptará "
             "ningún manifiesto hasta corregirla";
    case MessageCode::kOffline:
      return "Modo sin conexión · " + cause;
    case MessageCode::kThroughLink:
      return "No se instaló " + s +
             ": su ruta pasa por un enlace o una unión dentro de la carpeta de instalación";
    case MessageCode::kFolderInTheWay:
      return "No se instaló " + s +
             ": en su lugar hay una carpeta con archivos que el launcher no instaló";
    case MessageCode::kCannotWrite:
      return "No se pudo escribir " + s + " (¿sin permisos o disco lleno?)";
    case MessageCode::kCannotWriteDiskFull:
      return "No se pudo escribir " + s + " (¿disco lleno?)";
    case MessageCode::kHashInitFailed:
      return "No se pudo inicializar SHA-256";
    case MessageCode::kDownloadHttpStatus:
      return "HTTP " + Http(m.number) + " al descargar " + s;
    case MessageCode::kDownloadNetworkError:
      return NetworkErrorSentence(m.number) + " (" + s + ")";
    case MessageCode::kServerFileTooLarge:
      return "El archivo del servidor es más grande de lo indicado en el manifiesto: " + s;
    case MessageCode::kDownloadIncomplete:
      return "Descarga incompleta: " + s;
    case MessageCode::kHashFailed:
      return "No se pudo calcular el SHA-256 de " + s;
    case MessageCode::kHashMismatch:
      return "El archivo no coincide con el manifiesto (¿cambió en el servidor durante la "
             "descarga?): " +
             s;
    case MessageCode::kChangedOnDisk:
      return "El archivo " + s + " cambió en el disco durante la descarga";
    case MessageCode::kCannotReplace:
      return "No se pudo reemplazar " + s +
             ". Si el juego está abierto, ciérralo e inténtalo de nuevo.";
    case MessageCode::kNotEnoughSpace:
      return "Espacio insuficiente: se necesitan " + FormatSize(m.number) + " y hay " +
             FormatSize(m.other) + " libres";
  }
  return "";
}

}  // namespace brisal
