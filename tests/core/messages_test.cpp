// The wording: every sentence the launcher and brisal-cli can say, byte for byte, once.
#include "core/messages.h"

#include <gtest/gtest.h>

#include <string>

#include "core/network_errors.h"

namespace brisal {
namespace {

using C = MessageCode;

TEST(Sentence, EveryCodeSaysItsOwnWords) {
  // A subject from outside is made safe (and short) where the sentence says so.
  const std::string hostile =
      "a\x1B[2J\xE2\x80\xAE"
      "b";
  const std::string r = "\xEF\xBF\xBD";
  const std::string shown = "a" + r + "[2J" + r + "b";
  const std::string huge = "\x1B[2J" + std::string(4 << 20, 'x') + "\r\n";
  const std::string path = "data/a.pak";
  const Message timeout(C::kNetworkError, {}, http_error::kTimeout);
  const struct {
    Message message;
    std::string sentence;
  } rows[] = {
      {Message(), ""},
      {Message(C::kInternalError, "roto"), "Error interno: roto"},
      {Message(C::kInternalUnexpected), "Error interno inesperado"},
      {Message(C::kCannotStartTask), "Error interno: no se pudo iniciar la tarea"},
      {Message(C::kCannotStartDownload), "Error interno: no se pudo iniciar la descarga"},
      {Message(C::kNetworkError), "Error desconocido"},
      {timeout, "El servidor tardó demasiado en responder"},
      {Message(C::kNetworkError, {}, 12007),
       "No se encontró el servidor (revisa la dirección en config.json)"},
      {Message(C::kNetworkError, {}, 12029),
       "No se pudo conectar con el servidor (¿está encendido?)"},
      {Message(C::kNetworkError, {}, 12030), "Se perdió la conexión con el servidor"},
      {Message(C::kNetworkError, {}, 12037), "Error de certificado HTTPS"},
      {Message(C::kNetworkError, {}, 12038), "Error de certificado HTTPS"},
      {Message(C::kNetworkError, {}, 12045), "Error de certificado HTTPS"},
      {Message(C::kNetworkError, {}, 12169), "Error de certificado HTTPS"},
      {Message(C::kNetworkError, {}, 12175), "Error de certificado HTTPS"},
      {Message(C::kNetworkError, {}, 12152), "Error de red (código 12152)"},
      {Message(C::kServerAnsweredHttp, hostile, 500),
       "El servidor respondió HTTP 500 al pedir " + shown},
      {Message(C::kBadBaseUrl), "La dirección del servidor no es válida (base_url en config.json)"},
      {Message(C::kFolderBusy), "Otro proceso del launcher está usando esta carpeta"},
      {Message(C::kCannotCreateInstallFolder),
       "No se pudo crear la carpeta de instalación. Elige otra carpeta."},
      {Message(C::kSignatureFetchFailed, {}, http_error::kTimeout),
       "No se pudo obtener la firma del manifiesto: El servidor tardó demasiado en responder"},
      {Message(C::kSignatureMissing, hostile, 404),
       "Falta la firma del manifiesto: el servidor respondió HTTP 404 al pedir " + shown},
      {Message(C::kSignatureInvalid), "La firma del manifiesto no es válida"},
      {Message(C::kManifestRolledBack), "El servidor ofrece una versión anterior del cliente"},
      {Message(C::kManifestExpired), "El manifiesto ha caducado"},
      {Message(C::kManifestGuardsMalformed),
       "El manifiesto tiene \"serial\" o \"expires\" con formato incorrecto"},
      {Message(C::kManifestKeyInvalid),
       "manifest_key en config.json no es una clave pública válida: no se aceptará ningún "
       "manifiesto hasta corregirla"},
      {Wrap(C::kOffline, timeout), "Modo sin conexión · El servidor tardó demasiado en responder"},
      {Message(C::kThroughLink, path),
       "No se instaló data/a.pak: su ruta pasa por un enlace o una unión dentro de la carpeta "
       "de instalación"},
      {Message(C::kFolderInTheWay, path),
       "No se instaló data/a.pak: en su lugar hay una carpeta con archivos que el launcher no "
       "instaló"},
      {Message(C::kCannotWrite, path),
       "No se pudo escribir data/a.pak (¿sin permisos o disco lleno?)"},
      {Message(C::kCannotWriteDiskFull, path), "No se pudo escribir data/a.pak (¿disco lleno?)"},
      {Message(C::kHashInitFailed), "No se pudo inicializar SHA-256"},
      {Message(C::kDownloadHttpStatus, path, 503), "HTTP 503 al descargar data/a.pak"},
      {Message(C::kDownloadNetworkError, path, 12030),
       "Se perdió la conexión con el servidor (data/a.pak)"},
      {Message(C::kServerFileTooLarge, path),
       "El archivo del servidor es más grande de lo indicado en el manifiesto: data/a.pak"},
      {Message(C::kDownloadIncomplete, path), "Descarga incompleta: data/a.pak"},
      {Message(C::kHashFailed, path), "No se pudo calcular el SHA-256 de data/a.pak"},
      {Message(C::kHashMismatch, path),
       "El archivo no coincide con el manifiesto (¿cambió en el servidor durante la descarga?): "
       "data/a.pak"},
      {Message(C::kChangedOnDisk, path),
       "El archivo data/a.pak cambió en el disco durante la descarga"},
      {Message(C::kCannotReplace, path),
       "No se pudo reemplazar data/a.pak. Si el juego está abierto, ciérralo e inténtalo de "
       "nuevo."},
      {Message(C::kNotEnoughSpace, {}, 3 << 20, 1 << 20),
       "Espacio insuficiente: se necesitan 3.0 MB y hay 1.0 MB libres"},

      {Message(C::kStatusChecking), "Buscando actualizaciones…"},
      {Message(C::kStatusVerifying, {}, 12, 340), "Verificando archivos… 12 / 340"},
      {Message(C::kStatusNotInstalled, {}, 25, 1572864),
       "Cliente no instalado · 25 archivos (1.5 MB)"},
      {Message(C::kStatusUpdateAvailable, {}, 25, 1572864),
       "Actualización disponible · 25 archivos (1.5 MB)"},
      {Message(C::kStatusCleanupOnly), "Actualización disponible · limpieza de archivos antiguos"},
      {Message(C::kStatusDownloading), "Descargando…"},
      {Message(C::kStatusDownloadingFile, hostile), "Descargando " + shown},
      {Message(C::kStatusDownloadingSpared, hostile, 44040192),
       "Descargando " + shown + " · 42.0 MB por descargar; el resto ya está en tu equipo"},
      {Message(C::kStatusUpToDate), "Cliente actualizado. ¡Listo para jugar!"},
      {Message(C::kConfigMalformed),
       "config.json tiene un error de formato (JSON invalido). Se usan valores por defecto."},
      {Message(C::kConfigManifestKeyInvalid),
       "manifest_key en config.json no es una clave pública válida: no se aceptará ningún "
       "manifiesto hasta corregirla."},
      {Message(C::kManifestInvalid), "El servidor devolvió un manifiesto inválido"},
      {Message(C::kManifestMalformedEntry),
       "El manifiesto tiene una entrada con formato incorrecto"},
      {Message(C::kManifestUnsafePath, huge), "El manifiesto contiene una ruta no permitida: " + r +
                                                  "[2J" + std::string(195, 'x') + "\xE2\x80\xA6"},
      {Message(C::kManifestBadHash, "ok\xC2\x9B"),
       "El manifiesto tiene un hash inválido para ok" + r},
      {Message(C::kManifestEmpty), "El manifiesto no contiene archivos (¿carpeta client vacía?)"},
      {Message(C::kClientMissing, "bin/Game.exe"),
       "No se encontró bin/Game.exe. Prueba con el otro motor gráfico o pulsa «Verificar "
       "archivos»."},
      {Message(C::kClientStartFailed, {}, 193), "No se pudo iniciar el cliente (error 193)."},
      {Message(C::kClientThroughLink, "bin/Game.exe"),
       "No se inicia bin/Game.exe: es un enlace o está dentro de uno, y solo se ejecutan "
       "archivos de la carpeta de instalación."},
      {Message(C::kPrivateKeyNotP256),
       "La clave privada no es una clave P-256 en formato PEM (PRIVATE KEY)"},
      {Message(C::kCannotGenerateKey), "No se pudo generar la clave"},
      {Message(C::kCannotSignManifest), "No se pudo firmar el manifiesto"},
      {Message(C::kCliUsage),
       "uso:\n"
       "  brisal-cli check    [--config FILE] [--install-dir DIR] [--json]\n"
       "  brisal-cli verify   [--config FILE] [--install-dir DIR] [--json]\n"
       "  brisal-cli update   [--config FILE] [--install-dir DIR] [--json]\n"
       "                      [--limit-rate RATE]  bytes/s, con K, M o G: 500K, 2M; 0: sin límite\n"
       "  brisal-cli manifest DIR [--revision TEXT] [--output FILE]\n"
       "                      [--sign PRIVATE.pem --expires DAYS [--serial N]]\n"
       "                      [--chunk-kib N]  tamaño medio de bloque: 4, 8 … 1024 (16)\n"
       "  brisal-cli keygen   PRIVATE.pem\n"
       "  brisal-cli publish-launcher --version X.Y.Z --output launcher.json\n"
       "                      (--platform NAME URL FILE)... [--sign PRIVATE.pem]\n"
       "  brisal-cli self-update [--check] [--config FILE]\n"
       "  brisal-cli --version"},
      {Message(C::kCliMissingValue, "--config"), "falta el valor de --config"},
      {Message(C::kCliUnknownOption, "--x"), "opción desconocida: --x"},
      {Wrap(C::kCliBadValue, "--serial", Message(C::kVerbatim, "5x")),
       "valor no válido para --serial: 5x"},
      {Message(C::kCliSignNeedsOutput), "--sign necesita --output"},
      {Message(C::kCliGuardsNeedSign), "--serial y --expires necesitan --sign"},
      {Wrap(C::kCliCannotReadFolder, "/srv/c", Message(C::kVerbatim, "No such file")),
       "No se pudo leer la carpeta /srv/c: No such file"},
      {Message(C::kCliPathNotAllowed, "a?b"), "Ruta no permitida en el manifiesto: a?b"},
      {Message(C::kCliCannotRead, "/srv/c/a"), "No se pudo leer /srv/c/a"},
      {Message(C::kCliCannotWrite, "m.json.sig"), "No se pudo escribir m.json.sig"},
      {Message(C::kCliCannotReadPrivateKey, "k.pem"), "No se pudo leer la clave privada k.pem"},
      {Wrap(C::kCliCannotWritePrivateKey, "k.pem", Message(C::kPrivateKeyExists)),
       "No se pudo escribir la clave privada k.pem: ya existe; no se sobrescribe una clave"},
      {Wrap(C::kCliCannotWritePrivateKey, "k.pem", Message(C::kSystemError, {}, 5)),
       "No se pudo escribir la clave privada k.pem: error 5"},
      {Message(C::kCliSignedWith, "BBBB"), "Firmado con la clave pública BBBB"},
      {Message(C::kCliPrivateKeyWritten, "k.pem"),
       "Clave privada escrita en k.pem: guárdela fuera del servidor y no la comparta.\n"
       "Línea para config.json:"},
      {Message(C::kCliPublishNeedsPlatform),
       "publish-launcher necesita --version, --output y al menos un --platform"},
      {Message(C::kCliLauncherPublished, "1.2.0"), "launcher.json escrito para la versión 1.2.0"},
      {Message(C::kLauncherReleaseFetchFailed, {}, 12029),
       "No se pudo comprobar si hay un launcher nuevo: No se pudo conectar con el servidor "
       "(¿está encendido?)"},
      {Message(C::kLauncherReleaseHttp, "http://h/launcher.json", 404),
       "No se pudo comprobar si hay un launcher nuevo: el servidor respondió 404 a "
       "http://h/launcher.json"},
      {Message(C::kLauncherReleaseInvalid),
       "launcher.json no es válido; el launcher no se actualiza"},
      {Message(C::kLauncherReleaseNoPlatform, "windows-x64"),
       "launcher.json no ofrece un launcher para windows-x64"},
      {Wrap(C::kLauncherReleaseOlder, "1.0.0", Message(C::kVerbatim, "1.1.0")),
       "launcher.json anuncia la versión 1.0.0, anterior a la instalada (1.1.0); no se instala"},
      {Message(C::kLauncherUpToDate, "1.1.0"), "El launcher está al día (versión 1.1.0)."},
      {Message(C::kLauncherUpdateAvailable, "1.2.0"), "Hay una versión nueva del launcher: 1.2.0."},
      {Message(C::kLauncherUpdateStaged, "1.2.0"),
       "La versión 1.2.0 del launcher está lista: se instalará al reiniciarlo."},
      {Message(C::kLauncherUpdated, "1.2.0"), "Launcher actualizado a la versión 1.2.0."},
      {Message(C::kLauncherByPackage),
       "Este launcher se instaló con un paquete del sistema: sus actualizaciones llegan con "
       "apt."},
      {Wrap(C::kLauncherDownloadFailed, Message(C::kHashMismatch, "brisal-launcher")),
       "No se pudo descargar el launcher nuevo: " +
           Sentence(Message(C::kHashMismatch, "brisal-launcher"))},
      {Message(C::kLauncherCannotStage, "/opt/b/.brisal-launcher-update"),
       "No se pudo preparar la carpeta /opt/b/.brisal-launcher-update para el launcher nuevo"},
      {Message(C::kLauncherSwapFailed, "/opt/b/brisal-launcher"),
       "No se pudo reemplazar /opt/b/brisal-launcher; se sigue usando la versión instalada"},
      {Message(C::kLauncherMissing, "/opt/b/brisal-launcher"),
       "No se encontró el launcher en /opt/b/brisal-launcher"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Sentence(row.message), row.sentence) << static_cast<int>(row.message.code);
  }
  // A code added without words would show the player an empty line.
  for (int code = 1; code < static_cast<int>(C::kEndOfCodes); ++code) {
    EXPECT_NE(Sentence(Message(static_cast<C>(code), "x")), "") << code;
  }
}

TEST(Sentence, ProgressLineOfTheCli) {
  ProgressFigures figures{true, 1048576, 4194304, 524288, 3, 10, "data/\x1B.pak"};
  EXPECT_EQ(ProgressSentence(figures),
            "1.0 MB / 4.0 MB (25.0 %) · 512 KB/s · 3 / 10 archivos · data/\xEF\xBF\xBD.pak");
  figures.downloading = false;
  EXPECT_EQ(ProgressSentence(figures), "3 / 10 archivos (30.0 %)");
}

}  // namespace
}  // namespace brisal
