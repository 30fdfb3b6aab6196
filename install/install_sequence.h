#pragma once

// Installs or updates the product from the release the options name. True on success; on
// failure the user's message is in Progress.result_text.
bool RunInstall();
