#include "update/UpdateState.h"

UpdateState updateState;
