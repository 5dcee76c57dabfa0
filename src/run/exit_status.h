// Every way a run ends has its own exit status.
#pragma once

namespace kolvane {

inline constexpr int kExitSuccess = 0;            // normal end, help or version
inline constexpr int kExitBadArgument = 1;        // an argument word was not accepted
inline constexpr int kExitOpenOrPosition = 2;     // opening or positioning a file failed
inline constexpr int kExitReadWrite = 3;          // a read or write failed, or nothing to read
inline constexpr int kExitSizeQuery = 4;          // a file's size could not be queried
inline constexpr int kExitTooSmall = 5;           // a file is too small for count, size and offset
inline constexpr int kExitNoMemory = 6;           // transfer buffers or the plan not obtained
inline constexpr int kExitIterationsNoCount = 7;  // iterations= without count=
inline constexpr int kExitZeroNoCount = 8;        // the zero source without count=
inline constexpr int kExitVerify = 9;             // a block read back is not the block written
// A check-only pass found blocks that another run's words or another file explain: a block of
// its seed written with other words, or no block of its seed at all.
inline constexpr int kExitVerifyOtherWords = 10;

}  // namespace kolvane
