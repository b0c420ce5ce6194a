// Runs a check once per instruction-set level this CPU can execute, so every
// build of a multi-level kernel is compared with the reference loops.
#pragma once

#include "SampleMath.h"

#include <gtest/gtest.h>

#include <vector>

inline std::vector<Isa> RunnableIsas()
{
    std::vector<Isa> levels;
    for (Isa isa : {Isa::Baseline, Isa::Avx2, Isa::Avx512})
        if (static_cast<int>(isa) <= static_cast<int>(DetectedIsa())) levels.push_back(isa);
    return levels;
}

template <typename Check>
void ForEachIsa(Check check)
{
    const Isa before = ActiveIsa();
    for (Isa isa : RunnableIsas()) {
        SCOPED_TRACE(IsaName(isa));
        ForceIsa(isa);
        check();
    }
    ForceIsa(before);
}
