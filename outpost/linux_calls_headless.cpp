// Native builds are Linux processes: their system calls always work.
#include "linux_calls.h"

namespace Tandem {

bool linuxCallsUsable ()
{
	return true;
}

void releaseUnusedStack () {}

} // namespace Tandem
