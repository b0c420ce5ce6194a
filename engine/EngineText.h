// The engine's own texts: its two messages, the status texts of its
// analyses and the title it restores.
#pragma once

namespace EngineText {
inline constexpr const char* kNoMemory = "内存不足，无法处理。\u3000\u3000\u3000\u3000";
inline constexpr const char* kWriteFailed = "创建文件的过程中发生错误。\u3000\u3000\u3000\u3000\u3000\u3000";
inline constexpr const char* kAnalysing = "自动分析中";
inline constexpr const char* kPreliminary = "初步处理中";
inline constexpr const char* kTitle = "Sonvelt";
} // namespace EngineText
