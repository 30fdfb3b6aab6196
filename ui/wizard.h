#pragma once

// Runs a paged setup: the task dialog with its pages, the worker under the progress page.
// Returns 0 when the worker ran (its result is in Progress), 1 when the dialog could not be
// shown, 2 when the user left before the work began.
int RunWizard();
