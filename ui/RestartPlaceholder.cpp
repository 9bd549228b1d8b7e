// Stands in for the restart copy until it is built: nothing is started.
#include "app/Restart.h"

void launchRestartCopy(CWnd* /*owner*/)
{
}
