#pragma once

#include <stddef.h>

#include "core/status.h"

// Writes the product's folder, the Program Files known folder followed by "\Talvor".
Status GetInstallFolder(wchar_t *buffer, size_t capacity);
