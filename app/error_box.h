#pragma once

// Shows a plain error box titled "Talvor" with a Close button and waits for it; does nothing in
// silent mode.
void ShowErrorBox(const wchar_t *instruction, const wchar_t *content);
