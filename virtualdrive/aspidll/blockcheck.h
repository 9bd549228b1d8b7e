// Checks of the request blocks SendASPI32Command receives. The library sees
// only a pointer, so it checks what a block of the published layout (1-byte
// packing, as this build lays it out) must hold: reserved fields zero, known
// flags, a command block length that fits the operation code found at
// CDBByte, an event handle that is a handle, and memory behind the block, its
// sense area and its data buffer. A caller whose layout differs trips one of
// them, and its block is refused before any drive sees it.
#pragma once

#include <string>

// Empty when the block may be served; otherwise why it is refused.
std::string blockFault(const void* block);

// Refuses a faulty block loudly: SRB_Status becomes SS_INVALID_SRB (0xE0),
// and a line goes to errors.log in the folder ORV_VIRTUAL_LOG names and to
// the standard error. Answers whether the block was refused.
bool refuseFaultyBlock(void* block);
