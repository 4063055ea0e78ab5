// SIGINT and SIGTERM as a request to stop that a tool's loop polls.
#ifndef TOOLS_COMMON_STOP_SIGNAL_H_
#define TOOLS_COMMON_STOP_SIGNAL_H_

namespace vqscw::tools {

// Makes SIGINT and SIGTERM set the stop request instead of ending the process.
void InstallStopHandlers();
// True once SIGINT or SIGTERM has arrived.
bool StopRequested();

}  // namespace vqscw::tools

#endif  // TOOLS_COMMON_STOP_SIGNAL_H_
