// The run of one prepared job, the same for the window and the command line:
// open the debug log, run the engine over the three open files, then close
// the output, the inputs and the log.
#pragma once

#include <functional>

class DebugLog;
class EngineHost;
class TVocalMain;
class TWaveData;
struct CommittedOptions;
struct JobRequest;

// Runs `engine` over the files the checks opened (original and karaoke for
// reading, output created), reporting to `host`. The debug log is opened
// beside the original first when debug mode is on, and closed last. Every
// file is closed on return, a stopped run included. Returns the output's
// Close() status: nonzero when its last data or header could not be written.
// What the run found and did is then in engine.LastReport().
// `afterRun`, when given, is called with that status once the output is
// closed and while the inputs are still open (a decoded input can be read
// only while it is open).
int RunPreparedJob(TVocalMain& engine, EngineHost& host, DebugLog& log, CommittedOptions* options,
                   const JobRequest& request, TWaveData& original, TWaveData& karaoke, TWaveData& output,
                   const std::function<void(int closed)>& afterRun = nullptr);
