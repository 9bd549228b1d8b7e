#pragma once

// Checks the selected drive before anything is written: 1 to go on, 0 to
// stop (the message has been shown).
int checkEligibility();
