// <windows.h> for files that also see the portable window headers: its DrawText
// macro would rename Canvas::DrawText to DrawTextW in some files and not in others.
#pragma once

#include <windows.h>

#undef DrawText
