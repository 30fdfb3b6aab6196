#pragma once

// Removes the product, and on request the user's settings and data. True on success; on failure
// the user's message is in Progress.result_text.
bool RunUninstall();
