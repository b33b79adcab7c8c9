#pragma once

// Helpers shared by the writer's tests: scratch folders, files with chosen times, and the
// independent readers (Python's zipfile through read_zip.py, and `unzip -t`).

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

namespace testing_support {

class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content, std::int64_t modificationTime = -1);
void setModificationTime(const std::string& path, std::int64_t seconds);  // links are not followed

struct CommandResult {
    int exitCode;
    std::string output;
};
CommandResult run(const std::string& command);

// The archive as Python's zipfile reads it (see read_zip.py): "entries" with every field and
// the data verified, or only "names" when withData is false. Fails the test when it cannot.
nlohmann::json pythonListing(const std::string& archivePath, bool withData = true);

// True when `unzip -t` accepts the archive.
bool unzipAccepts(const std::string& archivePath);

}  // namespace testing_support
