// Writing an output file so that it is never lost half-way: a report, a plan
// or the exported list either replaces the file whole, or leaves the file that
// was there as it was (a full disk, a pulled USB stick), and the failure is
// said.
#pragma once

#include <string>
#include <string_view>

namespace lynx::platform {

// Writes bytes to path: into a new file beside it, flushed to the disk, then
// renamed over it (an existing file keeps its permissions). A path that is not
// a regular file (a terminal, a pipe, /dev/null) is written in place. False,
// with why in *error (naming the path), on any failure; the new file is
// removed then.
bool WriteFileWhole(const std::string& path, std::string_view bytes, std::string* error);

} // namespace lynx::platform
