#pragma once

// Writes, verifies and commits the EPS image; answers a CommandResult.
int updateSecondaryFirmware();
