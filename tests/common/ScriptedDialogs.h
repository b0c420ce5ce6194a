// The checks' dialogs answered by a script: what they showed is recorded,
// every question gets `answer`, and the preparation stops when `cancel` is set.
#pragma once

#include "JobSetup.h"

#include <string>
#include <vector>

namespace testutil {

struct ScriptedDialogs : JobDialogs {
    std::vector<std::string> warnings, questions, notes;
    bool answer = false;
    bool cancel = false;
    void ShowWarning(const std::string& t) override { warnings.push_back(t); }
    bool Confirm(const std::string& t) override {
        questions.push_back(t);
        return answer;
    }
    void ShowNote(const std::string& t) override { notes.push_back(t); }
    bool Cancelled() override { return cancel; }
};

} // namespace testutil
