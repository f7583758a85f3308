// Readable failure output for a Message compared in a test: its code's number and the
// sentence it stands for.
#pragma once

#include <ostream>

#include "core/messages.h"

namespace brisal {

inline void PrintTo(const Message& message, std::ostream* os) {
  *os << "code " << static_cast<int>(message.code) << " \"" << Sentence(message) << "\"";
}

}  // namespace brisal
