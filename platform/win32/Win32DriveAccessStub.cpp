// Stand-in until the Windows drive access is built: installs nothing, so the
// program stops before it could reach a drive. The build leaves this file out
// as soon as the real drive access sources are present.
void installWin32DriveAccess();

void installWin32DriveAccess()
{
}
