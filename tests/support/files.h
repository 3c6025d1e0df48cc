// Files and folders for tests: temporary folders, whole-file reads and writes, shared fixture
// files, lines.
#ifndef TESTS_SUPPORT_FILES_H_
#define TESTS_SUPPORT_FILES_H_

#include <cstddef>
#include <string>
#include <vector>

namespace test_support {

// A fresh empty folder under $TMPDIR (or /tmp).
std::string MakeTempDir();
void WriteFile(const std::string& path, const std::string& text);
// The file's bytes; empty when it cannot be read, or when reading it fails midway (a /proc file
// of a process reaped meanwhile).
std::string ReadFile(const std::string& path);
// The text of tests/data/NAME, the fixtures tests share. A missing file is the caller's bug: it is
// printed and aborts.
std::string TestData(const std::string& name);
// The lines of a text, without their newlines.
std::vector<std::string> Lines(const std::string& text);
// How many times `what` stands in `text`, overlapping ones counted.
size_t Count(const std::string& text, const std::string& what);

}  // namespace test_support

#endif  // TESTS_SUPPORT_FILES_H_
