// What the `dos` bridge says to the client when it ends, byte for byte as users know it.
#pragma once

namespace orvane::bridgetext {

inline constexpr const char kCreatePipeFailed[] = "\r\nCreatePipe failed\r\n";
inline constexpr const char kCreateProcessFailed[] = "\r\nCreateProcess failed\r\n";
inline constexpr const char kAbortLoop[] = "AbortLoop Trigger\r\n";
inline constexpr const char kThreadTerminated[] = "\r\nThread terminated abnormally.\r\n";
inline constexpr const char kNormalExit[] = "\r\nNormal exit from command line.\r\n";
inline constexpr const char kPeekBreak[] = "\r\nPeekNamedPipe break.\r\n";
inline constexpr const char kReadBreak[] = "\r\nReadFile break\r\n";
inline constexpr const char kReadLengthZero[] = "\r\nRead length is 0\r\n";
inline constexpr const char kSendChunkFailed[] = "\r\nSendChunk failed.\r\n";

}  // namespace orvane::bridgetext
