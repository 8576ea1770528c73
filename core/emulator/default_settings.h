#pragma once

#include <cstddef>

// The settings text a fresh installation starts from, with LF line ends.
extern const char kDefaultSettings[];
// Bytes in kDefaultSettings, the terminating zero excluded.
extern const std::size_t kDefaultSettingsLength;
