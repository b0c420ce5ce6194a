#include "AnalysisCache.h"

#include "Twave.h"

#include <filesystem>

namespace {

AnalysisCache::FileKey KeyOf(const TWaveData& w)
{
    AnalysisCache::FileKey k;
    k.name = w.FileName;
    std::error_code ec;
    const auto size = std::filesystem::file_size(w.FileName, ec);
    if (!ec) k.size = int64_t(size);
    const auto time = std::filesystem::last_write_time(w.FileName, ec);
    if (!ec) k.mtime = time.time_since_epoch().count();
    return k;
}

} // namespace

AnalysisCache::Key AnalysisCache::KeyFor(const TWaveData& original, const TWaveData& karaoke,
                                         const CommittedOptions& options)
{
    Key key;
    key.original = KeyOf(original);
    key.karaoke = KeyOf(karaoke);
    key.procMode = options.ProcMode;
    key.blockSeconds = options.BlkSec;
    key.precise = options.AlignFlg != 0;
    return key;
}

const Analysis* AnalysisCache::Find(const Key& key, bool positionSuffices) const
{
    if (!key_ || key_->original.name.empty() || !(*key_ == key)) return nullptr;
    if (analysis_.positionOnly && !positionSuffices) return nullptr;
    return &analysis_;
}

void AnalysisCache::Store(const Key& key, const Analysis& analysis)
{
    key_ = key;
    analysis_ = analysis;
}
