#pragma once
#include <string>

namespace qm {

// The full path of the running program, from /proc/self/exe.
std::string ProgramFilePath();

// The directory part of a path, up to and including its last "/" (empty when none).
std::string DirectoryOf(const std::string& path);

// The file name part of a path, after its last "/".
std::string FileNameOf(const std::string& path);

// True when this process may create files in the folder.
bool DirectoryWritable(const std::string& directory);

}  // namespace qm
