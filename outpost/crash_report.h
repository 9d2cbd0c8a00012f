// Ends outpost at once when an exception that nobody handles reaches the top
// of any of its threads, after one line on standard error that says what
// happened and where: exception code, address, the module holding that
// address, and the served plug-in. Without it Wine would start its debugger
// and keep the dead process (and the Linux side's waits) around.
#pragma once

namespace Tandem {

// `pluginPath` names the served plug-in in the line; the text is copied.
void installCrashReport (const char* pluginPath);

// Names the instance the calling thread works for (its shared file), for
// the line of a crash on this thread: in a group's outpost it tells whose
// plug-in crashed. `name` must outlive the thread's work for it.
void nameCrashInstance (const char* name);

} // namespace Tandem
