// Whether the jobs of one extraction may run together.
#include "BatchPlan.h"
#include "TestUtil.h"
#include "WaveCheck.h"

#include <gtest/gtest.h>

using namespace testutil;

TEST(BatchPlan, JobsThatWouldLoseAResultOrDamageAnInputCollide) {
    TempDir dir;
    WriteText(dir / "a.wav", "a");
    std::filesystem::create_symlink(dir / "a.wav", dir / "link.wav");
    auto job = [&](const std::string& original, const std::string& output) {
        return PlannedJob{dir / original, dir / (original + ".kar.wav"), output, true, {}};
    };
    struct Case {
        const char* what;
        std::vector<PlannedJob> jobs;
        std::vector<std::string> lines;
    } cases[] = {
        {"two outputs", {job("a.wav", dir / "a_vo.wav"), job("b.wav", dir / "b_vo.wav")}, {}},
        {"one output under two spellings",
         {job("a.wav", dir / "v.wav"), job("b.wav", dir.path().string() + "/./v.mp3")},
         {QuotedPath(dir / "a.wav") + " and " + QuotedPath(dir / "b.wav") + " would both write " +
          QuotedPath(dir / "v.wav")}},
        {"FLAC and WAVE of one stem are two files", {job("a.wav", dir / "v.flac"), job("b.wav", dir / "v.wav")}, {}},
        {"an output over another job's original through a link",
         {job("a.wav", dir / "a_vo.wav"), job("b.wav", dir / "link.wav")},
         {QuotedPath(dir / "b.wav") + " would write over " + QuotedPath(dir / "a.wav") + ", an input of " +
          QuotedPath(dir / "a.wav")}},
        {"standard output twice", {job("a.wav", "-"), job("b.wav", "-")},
         {QuotedPath(dir / "a.wav") + " and " + QuotedPath(dir / "b.wav") + " would both write \"-\""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Collisions(c.jobs), c.lines);
    }
}
