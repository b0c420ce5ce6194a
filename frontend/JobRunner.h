// The run of one prepared job, the same for the window and the command line:
// open the debug log, run the engine over the three open files, then close
// the inputs, the output and the log.
#pragma once

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
int RunPreparedJob(TVocalMain& engine, EngineHost& host, DebugLog& log, CommittedOptions* options,
                   const JobRequest& request, TWaveData& original, TWaveData& karaoke, TWaveData& output);
