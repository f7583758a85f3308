// FoldCase over glib's Unicode case folding, which needs no locale: the player's LANG
// must not decide which files are deleted.
#include <glib.h>

#include <memory>

#include "core/text.h"

namespace brisal {

std::string FoldCase(const std::string& text) {
  if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return text;
  std::unique_ptr<gchar, decltype(&g_free)> folded(
      g_utf8_casefold(text.data(), static_cast<gssize>(text.size())), &g_free);
  return folded ? std::string(folded.get()) : text;
}

}  // namespace brisal
