// The operating system's file calls the runtime's streams are built on, one
// implementation per system (runtime/posix/FileHandle.cpp). Internal to the
// runtime: other modules use the streams.
//
// Failures come back as the system's error code (errno on POSIX); transfers
// return the number of bytes moved, or -1. A call that a signal interrupts
// before anything moved is repeated.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/Classes.h"

namespace kivo::os {

// Opens or, for fmCreate, creates FileName with one of the streams' open
// modes (access and share bits); a new file gets Rights as its permission
// bits. Folders are refused. A share mode that conflicts with another holder
// of the file fails before a create truncates anything. 0 with Handle set,
// else the error code.
int FileOpen(const std::string& FileName, uint16_t Mode, uint32_t Rights, THandle& Handle);
void FileClose(THandle Handle);
// Whether an error code of FileOpen means that another holder's share mode
// refused the open.
bool IsSharingViolation(int Error);

int64_t FileRead(THandle Handle, void* Buffer, int64_t Count);
int64_t FileWrite(THandle Handle, const void* Buffer, int64_t Count);
// Transfers at Offset without using or moving the file position.
int64_t FileReadAt(THandle Handle, void* Buffer, int64_t Count, int64_t Offset);
int64_t FileWriteAt(THandle Handle, const void* Buffer, int64_t Count, int64_t Offset);
// The new position, -1 on failure.
int64_t FileSeek(THandle Handle, int64_t Offset, TSeekOrigin Origin);
// Cuts or extends the file to Size bytes: 0 or the error code.
int FileTruncate(THandle Handle, int64_t Size);
// The file's size, -1 when it cannot be read.
int64_t FileSize(THandle Handle);

} // namespace kivo::os
