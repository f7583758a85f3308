// The keys the window reacts to, as the platform hosts translate them. Every other
// key arrives as kOther and does nothing. The handlers themselves are LauncherWindow
// members, defined in input.cpp.
#pragma once

namespace brisal {

enum class Key {
  kEnter,   // Return and the keypad's Enter: the primary action
  kSpace,   // the primary action too
  kEscape,  // minimises
  kOther,
};

}  // namespace brisal
