#pragma once

// A file of the local file system as the source of a copy job. Reads go
// through its descriptor, so the copy engine copies inside the kernel where
// source and destination allow it.

#include "common/DescriptorStream.h"
#include "common/FileData.h"

#include <QString>

namespace ardanto {

// Reads go through the descriptor: the copy engine copies inside the kernel.
using TLocalFileStream = TDescriptorReadStream;

// Opens fileName for reading and describes the open file in data: name,
// path, size, time stamps, mode and attributes, all taken from the file that
// was opened, so they belong to the bytes the job will read. A final symbolic
// link is refused (ELOOP) unless followLink. Returns 0 or errno; a name that
// is no regular file gives EINVAL.
int OpenLocalFileSource(const QString& fileName, TFileData& data, bool followLink = false);

} // namespace ardanto
