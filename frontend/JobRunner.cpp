#include "JobRunner.h"

#include "DebugLog.h"
#include "JobSetup.h"
#include "Twave.h"
#include "Vocalmain.h"

int RunPreparedJob(TVocalMain& engine, EngineHost& host, DebugLog& log, CommittedOptions* options,
                   const JobRequest& request, TWaveData& original, TWaveData& karaoke, TWaveData& output,
                   const std::function<void(int closed)>& afterRun) {
    const std::string logPath = DebugLogPath(request);
    if (!logPath.empty()) log.OpenDebugLog(logPath);
    engine.Attach(&host, options, &original, &karaoke, &output);
    engine.Run(request.runMode);
    const int closed = output.Close();
    if (afterRun) afterRun(closed);
    original.Close();
    karaoke.Close();
    log.CloseDebugLog();
    return closed;
}
