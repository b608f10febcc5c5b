#pragma once
// Replacing a file's whole content so that a reader sees either the old file or the new one:
// the bytes go to a temporary file beside the file, which is then renamed over it.
#include <string>
#include <string_view>

namespace qm {

// The file a path ends at after following symbolic links (relative links against the
// folder of the link); the path itself when it is no link. A dangling link gives the path
// it points to, so writing creates the target.
std::string FollowLinks(const std::string& path);

// True for a file that exists and that its owner's permissions mark read-only, or that this
// process may not write; such a file is left as it is rather than replaced, also for root.
bool ReadOnlyFile(const std::string& path);

// Removes temporary files beside `target` left by a replacement whose process has ended
// (killed mid-save). Files of a process still running are left alone.
void RemoveStaleTemporaries(const std::string& target);

// Replaces the content of the file at `path` (followed through links) with `bytes`, keeping
// its permissions. False, with errno set, when it cannot be done; the file is then unchanged.
bool ReplaceFileContent(const std::string& path, std::string_view bytes);

}  // namespace qm
