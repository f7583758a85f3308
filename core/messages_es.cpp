// The Spanish sentences of every MessageCode.
#include <optional>
#include <string>
#include <utility>

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

// The sentence of the message a wrapping one names.
std::string CauseOf(const Message& m) {
  return m.causes.empty() ? std::string() : Sentence(m.causes.front());
}

std::string Files(std::uint64_t files, std::uint64_t bytes) {
  return std::to_string(files) + " archivos (" + FormatSize(bytes) + ")";
}

// The sentences of the engine: jobs, the network, the install folder, the manifest's trust.
std::optional<std::string> EngineSentence(const Message& m) {
  const std::string& s = m.subject;
  switch (m.code) {
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
    case MessageCode::kManifestNoExpiry:
      return "El manifiesto firmado no tiene fecha de caducidad (\"expires\")";
    case MessageCode::kManifestSerialReused:
      return "El servidor ofrece otro manifiesto con el mismo número de serie que uno ya "
             "aceptado";
    case MessageCode::kConfigUnusable:
      return "config.json no se pudo usar: no se aceptará ningún manifiesto hasta corregirlo";
    case MessageCode::kOffline:
      return "Modo sin conexión · " + CauseOf(m);
    default:
      return std::nullopt;
  }
}

// The sentences of one file's download.
std::optional<std::string> DownloadSentence(const Message& m) {
  const std::string& s = m.subject;
  switch (m.code) {
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
    default:
      return std::nullopt;
  }
}

// The sentences of the status line, config.json, the manifest as parsed, the game's start.
std::optional<std::string> StatusSentence(const Message& m) {
  const std::string& s = m.subject;
  switch (m.code) {
    case MessageCode::kVerbatim:
      return s;
    case MessageCode::kSystemError:
      return "error " + std::to_string(m.number);
    case MessageCode::kStatusChecking:
      return "Buscando actualizaciones…";
    case MessageCode::kStatusVerifying:
      return "Verificando archivos… " + std::to_string(m.number) + " / " + std::to_string(m.other);
    case MessageCode::kStatusNotInstalled:
      return "Cliente no instalado · " + Files(m.number, m.other);
    case MessageCode::kStatusUpdateAvailable:
      return "Actualización disponible · " + Files(m.number, m.other);
    case MessageCode::kStatusCleanupOnly:
      return "Actualización disponible · limpieza de archivos antiguos";
    case MessageCode::kStatusDownloading:
      return "Descargando…";
    case MessageCode::kStatusDownloadingFile:
      return "Descargando " + SafeText(s);
    case MessageCode::kStatusDownloadingSpared:
      return (s.empty() ? std::string("Descargando…") : "Descargando " + SafeText(s)) + " · " +
             FormatSize(m.number) + " por descargar; el resto ya está en tu equipo";
    case MessageCode::kStatusUpToDate:
      return "Cliente actualizado. ¡Listo para jugar!";
    case MessageCode::kConfigMalformed:
      return "config.json tiene un error de formato (JSON invalido). Se usan valores por defecto.";
    case MessageCode::kConfigUnreadable:
      return "No se pudo leer config.json (¿sin permisos o demasiado grande?). Se usan valores "
             "por defecto y no se aceptará ningún manifiesto.";
    case MessageCode::kConfigManifestKeyInvalid:
      return Sentence(Message(MessageCode::kManifestKeyInvalid)) + ".";
    case MessageCode::kManifestInvalid:
      return "El servidor devolvió un manifiesto inválido";
    case MessageCode::kManifestMalformedEntry:
      return "El manifiesto tiene una entrada con formato incorrecto";
    case MessageCode::kManifestUnsafePath:
      return "El manifiesto contiene una ruta no permitida: " + SafeText(s);
    case MessageCode::kManifestBadHash:
      return "El manifiesto tiene un hash inválido para " + SafeText(s);
    case MessageCode::kManifestEmpty:
      return "El manifiesto no contiene archivos (¿carpeta client vacía?)";
    case MessageCode::kClientMissing:
      return "No se encontró " + s +
             ". Prueba con el otro motor gráfico o pulsa «Verificar archivos».";
    case MessageCode::kClientStartFailed:
      return "No se pudo iniciar el cliente (error " + std::to_string(m.number) + ").";
    case MessageCode::kClientThroughLink:
      return "No se inicia " + SafeText(s) +
             ": es un enlace o está dentro de uno, y solo se ejecutan archivos de la carpeta "
             "de instalación.";
    default:
      return std::nullopt;
  }
}

// The sentences of the launcher's own update. The versions and the platform come from
// launcher.json or the build; they are made safe like any outside text.
std::optional<std::string> LauncherSentence(const Message& m) {
  const std::string s = SafeText(m.subject);
  switch (m.code) {
    case MessageCode::kLauncherReleaseFetchFailed:
      return "No se pudo comprobar si hay un launcher nuevo: " + NetworkErrorSentence(m.number);
    case MessageCode::kLauncherReleaseHttp:
      return "No se pudo comprobar si hay un launcher nuevo: el servidor respondió " +
             Http(m.number) + " a " + s;
    case MessageCode::kLauncherReleaseInvalid:
      return "launcher.json no es válido; el launcher no se actualiza";
    case MessageCode::kLauncherReleaseNoPlatform:
      return "launcher.json no ofrece un launcher para " + s;
    case MessageCode::kLauncherReleaseOlder:
      return "launcher.json anuncia la versión " + s + ", anterior a la instalada (" + CauseOf(m) +
             "); no se instala";
    case MessageCode::kLauncherUpToDate:
      return "El launcher está al día (versión " + s + ").";
    case MessageCode::kLauncherUpdateAvailable:
      return "Hay una versión nueva del launcher: " + s + ".";
    case MessageCode::kLauncherUpdateStaged:
      return "La versión " + s + " del launcher está lista: se instalará al reiniciarlo.";
    case MessageCode::kLauncherUpdated:
      return "Launcher actualizado a la versión " + s + ".";
    case MessageCode::kLauncherByPackage:
      return "Este launcher se instaló con un paquete del sistema: sus actualizaciones "
             "llegan con apt.";
    case MessageCode::kLauncherDownloadFailed:
      return "No se pudo descargar el launcher nuevo: " + CauseOf(m);
    case MessageCode::kLauncherCannotStage:
      return "No se pudo preparar la carpeta " + s + " para el launcher nuevo";
    case MessageCode::kLauncherSwapFailed:
      return "No se pudo reemplazar " + s + "; se sigue usando la versión instalada";
    case MessageCode::kLauncherMissing:
      return "No se encontró el launcher en " + s;
    default:
      return std::nullopt;
  }
}

// The sentences of the operator's signing key and brisal-cli.
std::optional<std::string> CliSentence(const Message& m) {
  const std::string& s = m.subject;
  switch (m.code) {
    case MessageCode::kPrivateKeyNotP256:
      return "La clave privada no es una clave P-256 en formato PEM (PRIVATE KEY)";
    case MessageCode::kPrivateKeyExists:
      return "ya existe; no se sobrescribe una clave";
    case MessageCode::kCannotGenerateKey:
      return "No se pudo generar la clave";
    case MessageCode::kCannotSignManifest:
      return "No se pudo firmar el manifiesto";
    case MessageCode::kCliUsage:
      return "uso:\n"
             "  brisal-cli check    [--config FILE] [--install-dir DIR] [--json]\n"
             "  brisal-cli verify   [--config FILE] [--install-dir DIR] [--json]\n"
             "  brisal-cli update   [--config FILE] [--install-dir DIR] [--json]\n"
             "                      [--limit-rate RATE]  bytes/s, con K, M o G: 500K, 2M; 0: sin "
             "límite\n"
             "  brisal-cli manifest DIR [--revision TEXT] [--output FILE]\n"
             "                      [--sign PRIVATE.pem --expires DAYS [--serial N]]\n"
             "                      [--chunk-kib N]  tamaño medio de bloque: 4, 8 … 1024 (16)\n"
             "  brisal-cli keygen   PRIVATE.pem\n"
             "  brisal-cli publish-launcher --version X.Y.Z --output launcher.json\n"
             "                      (--platform NAME URL FILE)... [--sign PRIVATE.pem]\n"
             "  brisal-cli self-update [--check] [--config FILE]\n"
             "  brisal-cli --version";
    case MessageCode::kCliMissingValue:
      return "falta el valor de " + s;
    case MessageCode::kCliUnknownOption:
      return "opción desconocida: " + s;
    case MessageCode::kCliBadValue:
      return "valor no válido para " + s + ": " + CauseOf(m);
    case MessageCode::kCliSignNeedsOutput:
      return "--sign necesita --output";
    case MessageCode::kCliGuardsNeedSign:
      return "--serial y --expires necesitan --sign";
    case MessageCode::kCliSignNeedsExpires:
      return "--sign necesita --expires DÍAS: el launcher rechaza un manifiesto firmado que no "
             "caduca";
    case MessageCode::kCliCannotReadFolder:
      return "No se pudo leer la carpeta " + s + ": " + CauseOf(m);
    case MessageCode::kCliPathNotAllowed:
      return "Ruta no permitida en el manifiesto: " + s;
    case MessageCode::kCliCannotRead:
      return "No se pudo leer " + s;
    case MessageCode::kCliCannotWrite:
      return "No se pudo escribir " + s;
    case MessageCode::kCliCannotReadPrivateKey:
      return "No se pudo leer la clave privada " + s;
    case MessageCode::kCliCannotWritePrivateKey:
      return "No se pudo escribir la clave privada " + s + ": " + CauseOf(m);
    case MessageCode::kCliSignedWith:
      return "Firmado con la clave pública " + s;
    case MessageCode::kCliPrivateKeyWritten:
      return "Clave privada escrita en " + s +
             ": guárdela fuera del servidor y no la comparta.\nLínea para config.json:";
    case MessageCode::kCliPublishNeedsPlatform:
      return "publish-launcher necesita --version, --output y al menos un --platform";
    case MessageCode::kCliLauncherPublished:
      return "launcher.json escrito para la versión " + s;
    default:
      return std::nullopt;
  }
}

}  // namespace

Message Wrap(MessageCode code, Message cause) {
  Message wrapped(code);
  wrapped.causes.push_back(std::move(cause));
  return wrapped;
}

Message Wrap(MessageCode code, std::string subject, Message cause) {
  Message wrapped = Wrap(code, std::move(cause));
  wrapped.subject = std::move(subject);
  return wrapped;
}

std::string Sentence(const Message& m) {
  if (m.code == MessageCode::kNone) return "";
  for (auto group :
       {EngineSentence, DownloadSentence, StatusSentence, LauncherSentence, CliSentence}) {
    if (std::optional<std::string> sentence = group(m)) return *std::move(sentence);
  }
  return "";
}

std::string ProgressSentence(const ProgressFigures& f) {
  if (!f.downloading) {
    const double percent = f.files_total == 0 ? 0.0 : 100.0 * f.files_done / f.files_total;
    return StringPrintf("%u / %u archivos (%.1f %%)", f.files_done, f.files_total, percent);
  }
  const double percent = f.bytes_total == 0 ? 0.0
                                            : 100.0 * static_cast<double>(f.bytes_done) /
                                                  static_cast<double>(f.bytes_total);
  return StringPrintf("%s / %s (%.1f %%) · %s/s · %u / %u archivos · %s",
                      FormatSize(f.bytes_done).c_str(), FormatSize(f.bytes_total).c_str(), percent,
                      FormatSize(f.bytes_per_second).c_str(), f.files_done, f.files_total,
                      SafeText(f.path).c_str());
}

}  // namespace brisal
