#pragma once

#include <string>

#include "core/base/types.h"

// kest-headless's --press names, read from the host pad table the window's
// keys use. A held set is the pad's two data bytes, first byte high, a set
// bit held.
u16 pressBit(const std::string& name);
// Every press name, for a complaint about an unknown one.
std::string pressNames();
// The --help lines: each name, its window key and the arcade input it reaches.
std::string pressHelp();
// The arcade board reads its inputs from the host pad word, as the window's
// keys leave it.
void holdHostPad(u16 held);
