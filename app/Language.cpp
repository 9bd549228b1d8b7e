#include "app/Language.h"

uint32_t userLcid = 0;
