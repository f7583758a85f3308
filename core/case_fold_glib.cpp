// FoldCase over glib's Unicode case folding, which needs no locale: the player's LANG
// must not decide which files are deleted.
#include <glib.h>

#include <memory>

#include "core/free_with.h"
#include "core/text.h"

namespace brisal {

std::string FoldCase(const std::string& text) {
  if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return text;
  OwningPtr<gchar, g_free> folded(g_utf8_casefold(text.data(), static_cast<gssize>(text.size())));
  return folded ? std::string(folded.get()) : text;
}

}  // namespace brisal
