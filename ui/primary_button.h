// The primary button in each launcher phase: its label, whether it can be pressed and
// how it is drawn. The window's logic takes the enabled flag from here and the painter
// the rest, so the two never disagree about the button.
#pragma once

#include <string>

#include "shared_state/launcher_state.h"

namespace brisal {

enum class ButtonStyle { kSecondary = 0, kPrimary = 1, kCancel = 2 };

struct PrimaryButtonSpec {
  std::string label;
  bool enabled = false;
  ButtonStyle style = ButtonStyle::kPrimary;
};

// The primary button's label, state and style in `phase`.
PrimaryButtonSpec PrimarySpec(UpdatePhase phase);

}  // namespace brisal
