#pragma once

// Starts the worker and shows its progress on the main window; 1 on
// success, 0 on failure (the failure has been shown).
int monitorProgress();
