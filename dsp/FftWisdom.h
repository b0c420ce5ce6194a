// Measured FFT plans that are remembered across runs.
//
// Estimated plans are made at once; measured ones run each transform about
// 30 % faster but cost some tenths of a second to make. With Enable, the
// planner measures the first time a size is needed and keeps what it learnt
// (FFTW's "wisdom") in a file of the given folder; later processes read the
// file and get the measured plans at once. The file is named after the FFTW
// version it came from, read under a shared lock and replaced whole under an
// exclusive one; one that is stale, damaged or not a regular file is ignored
// and written again.
//
// Without Enable (the tests, the benchmarks of single kernels) every plan is
// estimated, which gives the same plan, and so the same rounding, on every
// run of one machine.
#pragma once

#include <string>

namespace fftwisdom {

// Call once at program start, before any transform is set up. An empty
// folder, or SONVELT_FFT_WISDOM=0 in the environment, leaves plans estimated.
void Enable(const std::string& folder);
// $XDG_CACHE_HOME/SonveltRip, else $HOME/.cache/SonveltRip; empty when
// neither is set.
std::string DefaultFolder();
// The file Enable reads and writes (empty when not enabled).
std::string File();

// For the plan cache, under its lock: the planner flags to use now (reading
// the file on first call), and the hook after a plan was made.
unsigned PlannerFlags();
void AfterPlanning();

} // namespace fftwisdom
