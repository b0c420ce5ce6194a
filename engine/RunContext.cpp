#include "RunContext.h"

#include <cstdarg>
#include <cstdio>

RunContext::RunContext(EngineHost& host, const StopFlag& stop, int64_t& progressBytes, int64_t progressMaxBytes,
                       std::string& statusText, int32_t& statusStep)
    : host_(host), stop_(stop), progress_(progressBytes), progressMax_(progressMaxBytes), statusText_(statusText),
      statusStep_(statusStep)
{
}

void RunContext::DebugPrint(const char* format, ...)
{
    char buf[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    host_.DebugLog(buf);
}

void RunContext::ShowProgress()
{
    const int percent = progressMax_ > 0 ? int(double(progress_) / double(progressMax_) * 100.0) : 0;
    host_.SetProgressPosition(progress_);
    host_.SetStatusText(std::to_string(percent) + " %");
    host_.SetTitle(std::to_string(percent) + "%-Sonvelt");
}

void RunContext::ProgressStep(int& counter)
{
    const int old = counter;
    counter = old + 1;
    if (old > 10) {
        ShowProgress();
        counter = 0;
    }
}

void RunContext::ShowFinished(int result)
{
    if (result != 0 || Stopped()) return;
    progress_ = progressMax_;
    ShowProgress();
}

void RunContext::StartStatus(const std::string& text)
{
    statusText_ = text;
    statusStep_ = 0;
    // The timer may tick after this context is gone: it reaches only what
    // the run owns.
    host_.StartStatusTimer(1000, [&host = host_, &statusText = statusText_, &statusStep = statusStep_] {
        host.SetStatusText(statusText + std::string(size_t(statusStep), ' ') + "->");
        if (++statusStep > 4) statusStep = 0;
    });
}

void RunContext::StopStatus()
{
    host_.SetStatusText("");
    host_.StopStatusTimer();
}
