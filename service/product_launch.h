#pragma once

// Hands the installed launcher, "<install folder>\Talvor.exe", to the Windows shell, which starts
// it as the signed-in user. Best effort, no result.
void LaunchProduct();
