// Files and folders for tests: temporary folders, whole-file reads and writes, lines.
#ifndef TESTS_SUPPORT_FILES_H_
#define TESTS_SUPPORT_FILES_H_

#include <string>
#include <vector>

namespace testfiles {

// A fresh empty folder under $TMPDIR (or /tmp).
std::string MakeTempDir();
void WriteFile(const std::string& path, const std::string& text);
// The file's bytes; empty when it cannot be read.
std::string ReadFile(const std::string& path);
// The lines of a text, without their newlines.
std::vector<std::string> Lines(const std::string& text);

}  // namespace testfiles

#endif  // TESTS_SUPPORT_FILES_H_
